#!/usr/bin/env bash
# The tool's parts (simulation/, render/, motiondata/) take plain values and do
# not include operator/: the operator uses them, not the other way round. The
# build refuses an include of operator/ by name (those layers compile against an
# include root without it); this also catches one reached through "../".
#
#   bash tool_includes_operator.sh <lumets-exe> <source-dir>
set -euo pipefail
src=${2:?usage: tool_includes_operator.sh <lumets-exe> <source-dir>}
cd "$src"

found=$(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](\.\./)*operator/' \
          --include='*.cpp' --include='*.h' simulation render motiondata | sort || true)
if [[ -n $found ]]; then
  while read -r file; do
    echo "$file includes operator/: $(grep -nE '#[[:space:]]*include[[:space:]]*["<](\.\./)*operator/' "$file" | head -1)" >&2
  done <<<"$found"
  exit 1
fi
