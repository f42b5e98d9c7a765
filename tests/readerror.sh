#!/usr/bin/env bash
# A log on a disk that fails: a FUSE filesystem serves it and fails every read
# past its first MiB with EIO. caplat must say the source can't be read and
# fail, keeping the results it printed before, whether it maps the file or
# reads it. Skipped (77) where FUSE is unavailable.
set -u
caplat=$(realpath "$1")
# Debian's own interpreter, which sees Debian's python3-fusepy.
py=/usr/bin/python3
"$py" -c 'import fusepy' 2> /dev/null || exit 77
[ -c /dev/fuse ] || exit 77
work=$(mktemp -d)
mkdir "$work/mnt"
cleanup() {
  fusermount -u "$work/mnt" 2> /dev/null || umount "$work/mnt" 2> /dev/null
  wait
  rm -rf "$work"
}
trap cleanup EXIT

rec='1700000000.15\nDecompressed payload (19 bytes)\n0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n0010  32 33 7d\n'
for i in $(seq 40000); do printf "$rec"; done > "$work/log"
"$caplat" -2 < "$work/log" > "$work/all"

"$py" - "$work/log" "$work/mnt" << 'PY' &
import errno, stat, sys
from fusepy import FUSE, FuseOSError, Operations

data = open(sys.argv[1], 'rb').read()
bad = 1 << 20

class FailingDisk(Operations):
    def getattr(self, path, fh=None):
        if path == '/':
            return {'st_mode': stat.S_IFDIR | 0o755, 'st_nlink': 2}
        if path == '/log':
            return {'st_mode': stat.S_IFREG | 0o444, 'st_nlink': 1, 'st_size': len(data)}
        raise FuseOSError(errno.ENOENT)

    def readdir(self, path, fh):
        return ['.', '..', 'log']

    def read(self, path, size, offset, fh):
        if offset + size > bad:
            raise FuseOSError(errno.EIO)
        return data[offset:offset + size]

FUSE(FailingDisk(), sys.argv[2], foreground=True, ro=True)
PY
for _ in $(seq 100); do [ -e "$work/mnt/log" ] && break; sleep 0.05; done
[ -e "$work/mnt/log" ] || exit 77

failed=0
check() {
  local name=$1 status=$2
  local size
  size=$(stat -c %s "$work/out")
  if [ "$status" != 1 ] || [ "$(cat "$work/err")" != "Source file can't be read" ] ||
    [ "$size" -eq 0 ] || ! cmp -s "$work/out" <(head -c "$size" "$work/all"); then
    echo "FAIL: $name: status $status, $size bytes out, stderr:"
    cat "$work/err"
    failed=$((failed + 1))
  fi
}
"$caplat" -2 "$work/mnt/log" "$work/out" 2> "$work/err"
check "mapped path" $?
"$caplat" -2 < "$work/mnt/log" > "$work/out" 2> "$work/err"
check "mapped standard input" $?
cat "$work/mnt/log" 2> /dev/null | "$caplat" -2 > "$work/out" 2> "$work/err"
[ -s "$work/out" ] && cmp -s "$work/out" <(head -c "$(stat -c %s "$work/out")" "$work/all") ||
  { echo "FAIL: a pipe from a failed read keeps what came before"; failed=$((failed + 1)); }
# A read error is the run's one message, even when the results cannot be written.
"$caplat" -2 < "$work/mnt/log" > /dev/full 2> "$work/err"
status=$?
if [ $status != 1 ] || [ "$(cat "$work/err")" != "Source file can't be read" ]; then
  echo "FAIL: read error and full disk: status $status, stderr:"; cat "$work/err"
  failed=$((failed + 1))
fi
echo "$((4 - failed)) passed, $failed failed"
[ $failed -eq 0 ]
