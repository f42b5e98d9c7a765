# The end-to-end tables' runner, sourced by each program's table after it sets
# program to the binary under test. One row per case:
#   t NAME SETUP ARGS STDIN STDOUT STDERR STATUS AFTER
# SETUP and AFTER are shell commands run in the row's own empty folder, before
# the run and as a check after it (AFTER must succeed). ARGS is evaluated, so
# it may hold redirections. STDIN, STDOUT and STDERR are printf formats; a
# STDOUT or STDERR of * is not compared.
# shellcheck source=await.sh
. "$(dirname "${BASH_SOURCE[0]}")/await.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=0
failed=0

# Compares file .NAME with the printf format want, unless want is *.
same() {
  [ "$2" = "*" ] && return
  # shellcheck disable=SC2059
  printf -- "$2" > ".want_$1"
  cmp -s ".want_$1" ".$1" || { echo "  $1 differs:"; diff <(od -c ".want_$1") <(od -c ".$1") | head -20; false; }
}

t() {
  rows=$((rows + 1))
  (
    mkdir "$work/$rows" && cd "$work/$rows" || exit 1
    # shellcheck disable=SC2059
    printf -- "$4" > .stdin
    eval "$2"
    eval "\"$program\" $3" < .stdin > .stdout 2> .stderr
    status=$?
    ok=0
    same stdout "$5" || ok=1
    same stderr "$6" || ok=1
    [ "$status" = "$7" ] || { echo "  status $status, want $7"; ok=1; }
    [ -z "$8" ] || eval "$8" || { echo "  after: $8"; ok=1; }
    exit $ok
  ) || { failed=$((failed + 1)); echo "FAIL: $1"; }
}
