#!/usr/bin/env bash
# End-to-end tests of caplat-stat's interval logs, one row per case:
#   t NAME SETUP ARGS STDIN STDOUT STDERR STATUS AFTER
# SETUP and AFTER are shell commands run in the row's own folder, which holds
# a.txt and b.txt (caplat -2 output of two hosts) and their logs a.hlog and
# b.hlog, before the run and as a check after it (AFTER must succeed). ARGS is
# evaluated. STDIN, STDOUT and STDERR are printf formats; * is not compared.
# Usage: hlog_cli.sh CAPLAT-STAT TESTS-FOLDER
set -u
stat=$(realpath "$1")
here=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=0
failed=0

gen() { awk -v seed="$1" -v n=3000 -v span=20 -v start="$2" -f "$here/hlog_gen.awk"; }
gen 1 1700000000 > "$work/a.txt"
gen 2 1700000003 > "$work/b.txt"
"$stat" -i 1s --hlog "$work/a.hlog" "$work/a.txt" > /dev/null
"$stat" -i 1s --hlog "$work/b.hlog" "$work/b.txt" > /dev/null

t() {
  local name=$1 setup=$2 args=$3 input=$4 want_out=$5 want_err=$6 want_status=$7 after=$8
  rows=$((rows + 1))
  local dir=$work/$rows
  mkdir "$dir"
  cp "$work"/a.* "$work"/b.* "$dir"
  (
    cd "$dir" || exit 1
    # shellcheck disable=SC2059
    printf -- "$input" > .stdin
    eval "$setup"
    eval "\"$stat\" $args" < .stdin > .stdout 2> .stderr
    echo $? > .status
    printf -- "$want_out" > .want_out
    printf -- "$want_err" > .want_err
    ok=1
    if [ "$want_out" != "*" ] && ! cmp -s .stdout .want_out; then
      echo "  stdout differs:"; diff .want_out .stdout | head -20; ok=0
    fi
    if [ "$want_err" != "*" ] && ! cmp -s .stderr .want_err; then
      echo "  stderr differs:"; diff .want_err .stderr | head -20; ok=0
    fi
    if [ "$(cat .status)" != "$want_status" ]; then
      echo "  status $(cat .status), want $want_status"; ok=0
    fi
    if [ -n "$after" ] && ! eval "$after"; then
      echo "  after: $after"; ok=0
    fi
    [ $ok = 1 ]
  ) || {
    failed=$((failed + 1))
    echo "FAIL: $name"
  }
}

# The interval starts of out.hlog, one line.
starts() { grep -v '^#' out.hlog | tail -n +2 | cut -d, -f1 | paste -sd' '; }
# The summary's counts and the percentiles below the maximum, which a log keeps
# exactly (the maximum itself only to the histogram's precision).
kept() { grep -E '^(count|0 to 1 h|p50|p90|p99 |p99.9 |negative|10 s|over 1 h)' "$1"; }

header='#[Histogram log format version 1.3]
#[StartTime: 1700000000.000 (seconds since epoch), Tue Nov 14 22:13:20 UTC 2023]
#[BaseTime: 1700000000.000 (seconds since epoch)]
"StartTimestamp","Interval_Length","Interval_Max","Interval_Compressed_Histogram"'
ms='1700000000%09d 1700000000%09d %s\n'
gap=$(printf "$ms" 0 1000000 1.000000)'
1700000001000000000 1700000001500000000 500.000000
1700000004250000000 1700000004250000007 0.000007'

# Writing: the header, one line per interval with gaps, at -i or 1 s.
t "the 1.3 header" "" "--hlog out.hlog" "$gap\n" "*" "" 0 \
  '[ "$(head -4 out.hlog)" = "$header" ]'
for i in "-i 1s:0.000 1.000 2.000 3.000 4.000" ":0.000 1.000 2.000 3.000 4.000" \
  "-i 2s:0.000 2.000 4.000" "-i 1m:0.000" "-i 250ms:0.000 0.250 0.500 0.750 1.000 1.250 1.500 1.750 2.000 2.250 2.500 2.750 3.000 3.250 3.500 3.750 4.000 4.250"; do
  t "interval starts with ${i%%:*}" "" "${i%%:*} --hlog out.hlog -" "$gap\n" "*" "" 0 \
    "[ \"\$(starts)\" = '${i#*:}' ]"
done
t "no input: the header alone" "" "--hlog out.hlog" "" "*" "" 0 '[ "$(wc -l < out.hlog)" = 4 ]'
t "negative and over an hour on a comment" "" "--hlog out.hlog" \
  "$(printf "$ms" 200000000 100000000 -100.000000)\n1699996300000000000 1700000000000000000 3700000.000000\n" \
  "*" "" 0 'grep -qx "#\[Excluded: negative=1, min=-100000000, over=1, max=3700000000000\]" out.hlog'
t "--tag marks every line" "" "--tag hostA --hlog out.hlog" "$gap\n" "*" "" 0 \
  '[ "$(grep -c "^Tag=hostA,[0-9]" out.hlog)" = 5 ]'
t "a tag with a comma" "" "--tag a,b" "" "" "*" 2 \
  'head -1 .stderr | grep -qx "caplat-stat: a tag must be a word without commas: a,b"'
t "--hlog to a full disk" "" "--hlog /dev/full a.txt" "" "*" \
  "caplat-stat: /dev/full: No space left on device\n" 2 ""

# Reading: logs merge into what one run over both hosts' output gives.
t "two logs give the summary of both" "" "a.hlog b.hlog" "" "*" "" 0 \
  '"$stat" a.txt b.txt > text && [ "$(kept .stdout)" = "$(kept text)" ]'
t "two logs give the .hgrm of both" "" "--hgrm m.hgrm b.hlog a.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
t "a merged log is the union" "" "--hlog m.hlog a.hlog b.hlog" "" "*" "" 0 \
  '"$stat" m.hlog > merged && "$stat" a.txt b.txt > text && [ "$(kept merged)" = "$(kept text)" ]'
t "a log on standard input from a file" "" "--hgrm m.hgrm - < a.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt > /dev/null && cmp m.hgrm t.hgrm'
t "caplat output and a log together" "" "--hgrm m.hgrm a.txt b.hlog" "" "*" "" 0 \
  '"$stat" --hgrm t.hgrm a.txt b.txt > /dev/null && cmp m.hgrm t.hgrm'
t "--tag selects" "sed 's/^[0-9]/Tag=B,&/' b.hlog > tagged.hlog" "--tag B --hgrm m.hgrm a.hlog tagged.hlog" \
  "" "*" "" 0 '"$stat" --hgrm t.hgrm b.txt > /dev/null && cmp m.hgrm t.hgrm'

# Bad lines are reported with their file and line, and skipped.
good=$(grep -m1 '^[0-9]' "$work/a.hlog")
for bad in "0.000,1.000,1.0,HIST!AAA:histogram is not base64" \
  "0.000,1.000,1.0,HISTFAAAAAN4AAA=:compressed histogram does not inflate" \
  "0.000,1.000,1.0,HISTFAAAACF42pNpmSzMwMDAyAABzFAayGd2M9ixgMH+A1QEAFLmBEw=:compressed histogram does not inflate" \
  "0.000,1.000,1.0,HISTFAAAACN42pNpmSzMwMDAzAABMJoRyHQz2LGAwf4DRGC7OBsAXd8F:compressed length does not match the histogram's size" \
  "x,1.000,1.0,${good##*,}:bad interval start time" \
  "0.000,1.000:not a histogram line" \
  "#[Excluded: negative=-1, min=0, over=0, max=0]:bad comment line"; do
  t "bad line: ${bad##*:}" "{ echo '#[BaseTime: 0.000]'; echo '$good'; echo '${bad%:*}'; } > bad.hlog" \
    "--hlog out.hlog bad.hlog" "" "*" "caplat-stat: bad.hlog:3: ${bad##*:}\n" 1 '[ "$(grep -c "^[0-9]" out.hlog)" = 1 ]'
done

echo "$((rows - failed)) passed, $failed failed"
[ $failed = 0 ]
