#!/usr/bin/env bash
# Lints the manual page; any warning fails. Then renders it as `MANWIDTH=80
# man` does and checks that its examples paste: no line is wider than 80
# columns, and every line of an example (.Dl, or a literal display) comes out
# whole on one line, not wrapped.
set -eu
export LC_ALL=C.UTF-8
warnings=$(groff -mandoc -ww -z "$1" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }

# man-db sets the line length to 39/40 of MANWIDTH.
render() { groff -mandoc -Tutf8 -rLL="$1"n -rLT="$1"n -P-cbou "$2"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
render 78 "$1" > "$work/page"
while IFS= read -r line; do
  if [ "${#line}" -gt 80 ]; then
    echo "wider than 80 columns: $line"
    failed=1
  fi
done < "$work/page"
sed 's/^ *//' "$work/page" > "$work/narrow"

# The examples alone, each line rendered whole on a page too wide to wrap
# them, between two marks: the lines the narrow page must hold.
awk 'NR < 3 { print } NR == 3 { print; print ".Sh E"; print ".Dl examples-start" }
     /^\.Bd -literal/ { literal = 1; print }
     /^\.Ed/ && literal { literal = 0; print }
     /^\.Dl / || (literal && !/^\./) { print }
     END { print ".Dl examples-end" }' "$1" > "$work/examples.1"
render 1000 "$work/examples.1" | sed 's/^ *//' | sed -n '/^examples-start$/,/^examples-end$/p' |
  sed '1d;$d;/^$/d' > "$work/lines"
[ -s "$work/lines" ] || { echo "no example found"; exit 1; }
while IFS= read -r line; do
  if ! grep -Fxq -- "$line" "$work/narrow"; then
    echo "wraps at 80 columns: $line"
    failed=1
  fi
done < "$work/lines"
exit "$failed"
