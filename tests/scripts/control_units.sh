#!/usr/bin/env bash
# The units that `controls --json` and docs/flow-format.md give for the controls
# are measured here on the tool itself: single particles are recorded and read
# back with `inspect --json` (positions, angles, ages, sizes, live counts), and
# the fade curve's x axis is read from rendered pixels. The docs' control table
# must be what scripts/gen_control_table.sh makes from `controls --json`.
# Args: lumets-exe source-dir.
set -u
LUMETS=$(realpath "$1")
SRC=$(realpath "$2")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- one table: the docs hold exactly what the generator makes --------------
bash "$SRC/scripts/gen_control_table.sh" "$LUMETS" > "$WORK/table.md" || fail "gen_control_table"
sed -n '/<!-- control-table:begin -->/,/<!-- control-table:end -->/p' "$SRC/docs/flow-format.md" |
  sed '1d;$d' > "$WORK/docs_table.md"
diff -u "$WORK/docs_table.md" "$WORK/table.md" >&2 ||
  fail "docs/flow-format.md's control table differs from scripts/gen_control_table.sh's output"

"$LUMETS" controls --json > "$WORK/controls.json" || fail "controls --json"

cd "$WORK"
python3 - "$LUMETS" <<'PY' || exit 1
import json, math, struct, subprocess, sys, zlib

lumets = sys.argv[1]
controls = {}
with open("controls.json") as f:
    doc = json.load(f)
for page in doc["pages"]:
    for inp in page["inputs"]:
        for field in ("key", "page", "min", "max", "default", "unit", "description", "tags", "label", "type"):
            if field not in inp:
                sys.exit(f"FAIL: input {inp['label']!r} has no {field!r}")
        if inp["member"] is None:
            continue
        if inp["unit"] is None or not inp["description"]:
            sys.exit(f"FAIL: {inp['key']} has no unit or description")
        controls[inp["key"]] = inp
for key, expect in (("Birthrate", (0, 1000, 3)), ("Speed", (0, 100, 0.01)), ("Start", (None, None, [0.2, 0.2]))):
    got = (controls[key]["min"], controls[key]["max"], controls[key]["default"])
    if got != expect:
        sys.exit(f"FAIL: {key} min/max/default {got}, not {expect}")


def unit(key, text):
    if text not in controls[key]["unit"]:
        sys.exit(f"FAIL: {key}'s unit {controls[key]['unit']!r} does not say {text!r}")


def close(what, got, want, tol):
    if not abs(got - want) <= tol:
        sys.exit(f"FAIL: {what}: measured {got!r}, expected {want!r}")


def record(name, ctl, frames=(0, 9), width=200, height=100):
    flow = {"flow": 1, "frames": list(frames), "seed": 3,
            "background": {"width": width, "height": height, "color": [0, 0, 0, 1]},
            "particle": {"shape": "dot", "size": 4},
            "controls": dict({"Start": [0.25, 0.5], "End": [0.25, 0.5], "Spread": 0, "Speed": 0,
                              "Gravity": 0, "Lifetime": 100, "Birthrate": 1}, **ctl),
            "output": name + ".####.png"}
    with open(name + ".json", "w") as f:
        json.dump(flow, f)
    subprocess.run([lumets, "record", name + ".json", "-q", "--to", name + ".lpd"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    out = subprocess.run([lumets, "inspect", name + ".lpd", "--json"], check=True, capture_output=True).stdout
    return json.loads(out)["entries"]


def first_born(entries):
    return [e["records"][0] for e in entries]  # oldest first; nothing dies within 100 frames


# Speed, Orientation, RotationSpeed, GeneralSize, the age: one particle after another.
# A 200 x 100 picture: x runs 0..2 picture heights, so Start x 0.25 lies at 0.5.
p = first_born(record("speed", {"Speed": 0.03, "Orientation": 0, "RotationSpeed": 5,
                                "EnableScale": 1, "GeneralSize": 2, "SizeVariance": 0}))
unit("Speed", "picture heights per frame")
if not 0.53 <= p[0][0] <= 0.56:  # born at 0.5 + up to one frame's move, then one frame's move
    sys.exit(f"FAIL: first position {p[0][0]} is not 0.5 picture heights + one frame at Speed 0.03")
for a, b in zip(p, p[1:]):
    close("Speed 0.03: x per frame", b[0] - a[0], 0.03, 1e-12)
    close("Orientation 0: y per frame", b[1] - a[1], 0.0, 1e-12)
    close("RotationSpeed 5: angle per frame", b[2] - a[2], 5.0, 1e-9)
    close("age per frame", b[3] - a[3], 1.0, 1e-12)
    close("GeneralSize 2: size", b[4], 2.0, 0.0)
unit("RotationSpeed", "degrees per frame")
unit("GeneralSize", "times the particle image's size")

# Orientation 90 goes up (y falls); Gravity g at GravityAngle 270 adds g/100 downwards per frame.
p = first_born(record("gravity", {"Speed": 0.03, "Orientation": 90, "Gravity": 0.5, "GravityAngle": 270}))
unit("Gravity", "1/100 picture height per frame^2")
unit("Orientation", "counter-clockwise from right (90 is up)")
unit("GravityAngle", "(270 is down)")
if not p[1][1] - p[0][1] < -0.015:
    sys.exit("FAIL: Orientation 90 does not launch upwards")
for a, b, c in zip(p, p[1:], p[2:]):
    close("Gravity 0.5: change of y speed per frame", (c[1] - b[1]) - (b[1] - a[1]), 0.005, 1e-9)
    close("Orientation 90: x per frame", b[0] - a[0], 0.0, 1e-4)  # 1/57.3 is not quite pi/180

# Birthrate 2.5 over 10 frames; Lifetime 4 keeps ages below 4.
e = record("birth", {"Birthrate": 2.5})
unit("Birthrate", "particles per frame")
close("Birthrate 2.5: particles after 10 frames", e[-1]["live"], 25, 1)
e = record("life", {"Lifetime": 4})
unit("Lifetime", "frames")
ages = [r[3] for x in e for r in x["records"]]
if not (max(ages) < 4 and max(ages) >= 3 and e[-1]["live"] in (3, 4)):
    sys.exit(f"FAIL: Lifetime 4: ages up to {max(ages)}, {e[-1]['live']} live")

# Spread 0.1: directions bell-shaped with standard deviation 10.92 degrees, within +/-32.77.
e = record("spread", {"Birthrate": 400, "Speed": 0.01, "Spread": 0.1}, frames=(0, 1))
unit("Spread", "109.2 degrees")
angles = [math.degrees(math.atan2(-(b[1] - a[1]), b[0] - a[0]))
          for a, b in zip(e[0]["records"], e[1]["records"])]
sd = math.sqrt(sum(x * x for x in angles) / len(angles))
close("Spread 0.1: standard deviation of directions (degrees)", sd, 10.92, 1.2)
if max(abs(x) for x in angles) > 32.78:
    sys.exit("FAIL: Spread 0.1 sent a particle beyond 32.77 degrees")

# SizeVariance 1 around GeneralSize 2: standard deviation 0.41, within +/-1.23; RotationVariance
# 0.5: rotation speeds evenly within +/-40.96 degrees per frame (standard deviation 23.65).
e = record("vary", {"Birthrate": 400, "EnableScale": 1, "GeneralSize": 2, "SizeVariance": 1,
                    "RotationVariance": 0.5}, frames=(0, 1))
unit("SizeVariance", "x 0.41 particle image sizes")
unit("RotationVariance", "x 81.9 degrees per frame")
sizes = [r[4] - 2 for r in e[0]["records"]]
turns = [b[2] - a[2] for a, b in zip(e[0]["records"], e[1]["records"])]
close("SizeVariance 1: standard deviation of sizes", math.sqrt(sum(x * x for x in sizes) / len(sizes)), 0.41, 0.05)
close("RotationVariance 0.5: standard deviation of turns", math.sqrt(sum(x * x for x in turns) / len(turns)), 23.65, 2.5)
if max(map(abs, sizes)) > 1.229 or max(map(abs, turns)) > 40.961:
    sys.exit("FAIL: a size or a rotation speed beyond its spread")

# Attractor strength s at distance d: speed gains s / 1000 / d picture heights per frame.
p = first_born(record("attract", {"Attractor1Enable": 1, "Attractor1": [0.75, 0.5], "Attractor1Strength": 2}))
unit("Attractor1Strength", "1/1000 picture height^2 per frame^2")
for a, b, c in zip(p, p[1:], p[2:]):
    close("Attractor strength 2: change of x speed", (c[0] - b[0]) - (b[0] - a[0]), 0.002 / (1.5 - b[0]), 1e-12)

# Tumble 1: speed changes by at most 0.0655 picture heights per frame on each axis.
e = record("tumble", {"Birthrate": 50, "Tumble": 1}, frames=(0, 5))
unit("Tumble", "0.0655 picture heights per frame^2")
kicks = []
for i in range(50):
    q = [x["records"][i] for x in e]
    for a, b, c in zip(q, q[1:], q[2:]):
        kicks += [abs((c[k] - b[k]) - (b[k] - a[k])) for k in (0, 1)]
if not (max(kicks) <= 0.06554 and max(kicks) > 0.02):
    sys.exit(f"FAIL: Tumble 1: largest change of speed {max(kicks)}")


# Curves are read at age / Lifetime: with the identity fade, the particle's light at
# age 5 of 10 equals that at age 10 of 20, and is twice that at age 5 of 20.
def png_pixel(path, x, y):
    data = open(path, "rb").read()
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            width, _, depth, ctype = struct.unpack(">IIBB", body[:10])
            if (depth, ctype) != (16, 6):
                sys.exit(f"FAIL: {path} is not 16-bit RGBA")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    raw, bpp, stride = zlib.decompress(idat), 8, width * 8
    prev, row = bytearray(stride), None
    for r in range(y + 1):
        f, line = raw[r * (stride + 1)], bytearray(raw[r * (stride + 1) + 1:(r + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev, row = line, line
    return struct.unpack(">4H", bytes(row[x * 8:x * 8 + 8]))


def faded(name, lifetime, frame):
    flow = {"flow": 1, "frames": [0, frame], "seed": 3,
            "background": {"width": 40, "height": 20, "color": [0, 0, 0, 1]},
            "particle": {"shape": "dot", "size": 8},
            "controls": {"Start": [0.5, 0.5], "End": [0.5, 0.5], "Speed": 0, "Gravity": 0, "Spread": 0,
                         "Birthrate": {"keys": [[0, 1], [1, 0]]}, "Lifetime": lifetime, "EnableFade": 1},
            "output": name + ".####.png"}
    with open(name + ".json", "w") as f:
        json.dump(flow, f)
    subprocess.run([lumets, "render", name + ".json", "-q", "--frames", str(frame)], check=True)
    return png_pixel(f"{name}.{frame:04d}.png", 20, 10)[0]


unit("MergeSpline", "x: age / Lifetime")
half10, half20, quarter20 = faded("f10", 10, 4), faded("f20", 20, 9), faded("q20", 20, 4)
if not (half10 > 1000 and half10 == half20 and abs(quarter20 * 2 - half10) <= 2):
    sys.exit(f"FAIL: fade at age/Lifetime 1/2: {half10} and {half20}; at 1/4: {quarter20}")
print("control units measured")
PY
