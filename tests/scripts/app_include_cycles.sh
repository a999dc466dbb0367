#!/usr/bin/env bash
# The folders of app/ include each other in one direction only: a file may
# include files of its own folder and of folders below it, and no chain of
# includes between folders leads back to where it started. Fails naming the
# folders of a loop, and the includes that make it.
#
#   bash app_include_cycles.sh <lumets-exe> <source-dir>
set -euo pipefail
src=${2:?usage: app_include_cycles.sh <lumets-exe> <source-dir>}
cd "$src"

# One "from to file" line per include of a file in another app folder (files
# directly in app/ count as the folder "app").
folder() { local d=${1%/*}; [[ $d == app ]] && echo app || echo "${d#app/}"; }
edges=$(
  find app -type f \( -name '*.cpp' -o -name '*.h' \) | sort | while read -r file; do
    from=$(folder "$file")
    sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]app/\([^">]*\)[">].*|\1|p' "$file" |
      while read -r inc; do
        to=$(folder "app/$inc")
        [[ $to != "$from" ]] && echo "$from $to $file" || true
      done
  done
)
if [[ -z $edges ]]; then
  echo "no includes between app folders found under $src/app" >&2
  exit 1
fi

# tsort reports every loop among the pairs on standard error and fails.
if ! loops=$(cut -d' ' -f1,2 <<<"$edges" | tsort 2>&1 >/dev/null); then
  in_loop=$(sed -n 's/^tsort: //p' <<<"$loops" | grep -v 'input contains a loop' | sort -u | tr '\n' ' ')
  echo "app folders include each other in a loop: $in_loop" >&2
  awk -v l=" $in_loop" 'index(l, " " $1 " ") && index(l, " " $2 " ") {print "  " $3 " includes " $2 "/"}' \
    <<<"$edges" | sort -u >&2
  exit 1
fi
echo "app folders, each above the ones it includes:"
cut -d' ' -f1,2 <<<"$edges" | tsort | sed 's/^/  /'
