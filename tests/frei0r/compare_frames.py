"""Compares video frames made through the frei0r filter with lumets render.

usage: compare_frames.py REF16 TEST8 WIDTH HEIGHT TEST_WIDTH X0 REF_FIRST COUNT
REF16 holds lumets render's frames as 16-bit little-endian RGBA, TEST8 a host's
8-bit RGBA frames, TEST_WIDTH wide (the tested picture starts at column X0).
Each 16-bit value v becomes (v + 128) // 257; frames REF_FIRST.. of REF16 must
equal frames 0..COUNT-1 of TEST8 byte for byte.
"""
import array
import sys

ref_path, test_path = sys.argv[1], sys.argv[2]
w, h, tw, x0, first, count = (int(a) for a in sys.argv[3:9])
ref = array.array("H")
with open(ref_path, "rb") as f:
    ref.frombytes(f.read())
if sys.byteorder != "little":
    ref.byteswap()
with open(test_path, "rb") as f:
    test = f.read()
table = bytes((v + 128) // 257 for v in range(65536))
frame16, frame8 = w * h * 4, tw * h * 4
if len(test) != count * frame8:
    sys.exit(f"{test_path}: {len(test) // frame8} frames, expected {count}")
for i in range(count):
    want = bytes(table[v] for v in ref[(first + i) * frame16:(first + i + 1) * frame16])
    if len(want) != frame16:
        sys.exit(f"{ref_path}: no frame {first + i}")
    for y in range(h):
        row = test[i * frame8 + (y * tw + x0) * 4:i * frame8 + (y * tw + x0 + w) * 4]
        if row != want[y * w * 4:(y + 1) * w * 4]:
            x = next(k for k in range(len(row)) if row[k] != want[y * w * 4 + k]) // 4
            sys.exit(f"{test_path}: frame {i} differs from lumets render frame {first + i} at pixel ({x}, {y})")
print(f"{test_path}: {count} frames equal lumets render frames {first}-{first + count - 1}")
