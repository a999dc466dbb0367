#!/usr/bin/env bash
# The tool's parts (simulation/, render/, motiondata/) take plain values and do
# not include operator/: the operator uses them, not the other way round. The
# files below still do and are allowed until they are moved off the operator;
# an entry whose file no longer includes operator/ fails too, so the list only
# shrinks.
#
#   bash tool_includes_operator.sh <lumets-exe> <source-dir>
set -euo pipefail
src=${2:?usage: tool_includes_operator.sh <lumets-exe> <source-dir>}
cd "$src"

allowed=(
  motiondata/playback.cpp
  motiondata/recording.cpp
  motiondata/render_end.cpp
  motiondata/shape_capture.cpp
  render/composite.cpp
  render/frame_settings.cpp
  render/process.cpp
  render/shape_prep.cpp
  simulation/particle_motion.cpp
  simulation/particle_pool.cpp
  simulation/path_step.cpp
)

found=$(grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](\.\./)*operator/' \
          --include='*.cpp' --include='*.h' simulation render motiondata | sort || true)
failed=0
while read -r file; do
  [[ -z $file ]] && continue
  if ! printf '%s\n' "${allowed[@]}" | grep -qxF "$file"; then
    echo "$file includes operator/: $(grep -nE '#[[:space:]]*include[[:space:]]*["<](\.\./)*operator/' "$file" | head -1)" >&2
    failed=1
  fi
done <<<"$found"
for file in "${allowed[@]}"; do
  if ! grep -qxF "$file" <<<"$found"; then
    echo "$file no longer includes operator/: remove it from the allowed list in $0" >&2
    failed=1
  fi
done
exit $failed
