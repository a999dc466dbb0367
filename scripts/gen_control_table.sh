#!/usr/bin/env bash
# Turns `lumets controls --json` into the Markdown table of the flow-format
# reference: page, flow key, ID, label, type, range, default, unit and meaning
# (the last two from the control table, operator/control_table.cpp).
#
#   scripts/gen_control_table.sh [LUMETS]                 prints the table
#   scripts/gen_control_table.sh [LUMETS] --update FILE   replaces the table in FILE, between
#                                                         <!-- control-table:begin --> and
#                                                         <!-- control-table:end -->
# LUMETS defaults to build/bin/lumets, which finds its plug-in relative to itself
# (LUMETS_PLUGIN_PATH adds folders). Needs python3 (standard library only).
set -euo pipefail
cd "$(dirname "$0")/.."
LUMETS=build/bin/lumets
UPDATE=""
while [ $# -gt 0 ]; do
  case "$1" in
    --update) UPDATE="$2"; shift 2 ;;
    *) LUMETS="$1"; shift ;;
  esac
done
[ -x "$LUMETS" ] || { echo "gen_control_table: no lumets at $LUMETS (build it first)" >&2; exit 1; }
JSON=$(mktemp)
trap 'rm -f "$JSON"' EXIT
"$LUMETS" controls --json > "$JSON"

python3 - "$JSON" "$UPDATE" <<'PY'
import json
import sys

def number(v):
    return f"{v:.10g}"


def cell(text):
    return text.replace("|", "\\|")


def describe(inp):
    kind, control = inp["type"], inp["control"]
    if kind == "Numb":
        if control == "BtnC":
            kind_text = "button"
        elif control == "ChBC":
            kind_text = "check box (0 or 1)"
        elif control == "PLIC":
            kind_text = "label only"
        else:
            kind_text = "whole number" if inp["integer"] else "number"
    elif kind == "Poin":
        kind_text = "point [x, y]"
    elif kind == "Text":
        kind_text = "button (text)" if control == "BtnC" else "text"
    elif kind == "PlLn":
        kind_text = "polyline"
    elif kind == "LUT!":
        kind_text = "curve"
    else:
        kind_text = kind
    low, high = inp["min"], inp["max"]
    if kind == "LUT!":
        rng = "points in 0..1, or table entries 0..65535"
    elif low is not None and high is not None:
        rng = f"{number(low)} to {number(high)}"
    elif low is not None:
        rng = f"at least {number(low)}"
    elif high is not None:
        rng = f"at most {number(high)}"
    else:
        rng = ""
    value = inp["default"]
    if isinstance(value, list):
        default = f"[{number(value[0])}, {number(value[1])}]"
    elif value is not None:
        default = number(value)
    elif kind == "LUT!":
        default = "identity"
    elif kind == "PlLn":
        default = "no points"
    elif kind == "Text" and control == "TEdC":
        default = '""'
    else:
        default = ""
    return kind_text, rng, default


def id_text(inp):
    text = inp["idText"]
    if text.isascii() and text.isprintable() and "\\" not in text:
        return f"`{text}`"
    return f"`0x{inp['id']:08X}`"


with open(sys.argv[1], encoding="utf-8") as f:
    data = json.load(f)

lines = ["| Page | Flow key | ID | Label | Type | Range | Default | Unit | Meaning |",
         "|---|---|---|---|---|---|---|---|---|"]
for page in data["pages"]:
    for inp in page["inputs"]:
        key = inp["key"]
        if not key:
            continue  # spacers and captions: no value to set
        kind_text, rng, default = describe(inp)
        label = '`"' + cell(inp["label"]) + '"`' if inp["label"] else "(empty)"
        unit = cell(inp.get("unit") or "")
        meaning = cell(inp.get("description") or "")
        lines.append(f"| {page['name']} | `{key}` | {id_text(inp)} | {label} | {kind_text} | {rng} | {default} "
                     f"| {unit} | {meaning} |")
table = "\n".join(lines) + "\n"

target = sys.argv[2]
if not target:
    sys.stdout.write(table)
    sys.exit(0)
begin, end = "<!-- control-table:begin -->", "<!-- control-table:end -->"
with open(target, encoding="utf-8") as f:
    text = f.read()
if begin not in text or end not in text:
    sys.exit(f"gen_control_table: {target} has no {begin} ... {end} markers")
head, rest = text.split(begin, 1)
_, tail = rest.split(end, 1)
with open(target, "w", encoding="utf-8") as f:
    f.write(head + begin + "\n" + table + end + tail)
print(f"gen_control_table: updated {target} ({len(lines) - 2} controls)")
PY
