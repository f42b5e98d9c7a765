#!/usr/bin/env bash
# Keeps the design map true: every source file of the programs is named in
# docs/design.md, and every file the map names exists.
#   map.sh SOURCE_DIR
set -u
cd "$1" || exit 1
failed=0
while IFS= read -r file; do
  grep -q -F "\`${file##*/}\`" docs/design.md || { echo "not on the map: $file"; failed=1; }
done < <(find src common stat -name '*.cpp' -o -name '*.h' | sort)
# Names of files in backticks, with or without their folder.
while IFS= read -r name; do
  found=$(find src common stat tests bench fuzz cmake .ci -path "*${name}" -print -quit 2>/dev/null)
  [ -n "$found" ] || { echo "on the map but missing: $name"; failed=1; }
done < <(grep -o '`[A-Za-z0-9_./-]*\.\(cpp\|h\|sh\|py\|java\|awk\)`' docs/design.md | tr -d '`' | sort -u)
exit $failed
