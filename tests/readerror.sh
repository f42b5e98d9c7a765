#!/usr/bin/env bash
# A log on a disk that fails: a FUSE filesystem serves it and fails every read
# past its first MiB with EIO. caplat must keep the results it printed before
# and end with the read error's one message, even when the results cannot be
# written. Skipped (77) where FUSE
# is unavailable. One row per case, as in cli.sh.
set -u
program=$(realpath "$1")
# shellcheck source=support/table.sh
. "$(dirname "$0")/support/table.sh"
# Debian's own interpreter, which sees Debian's python3-fusepy.
py=/usr/bin/python3
"$py" -c 'import fusepy' 2> /dev/null && [ -c /dev/fuse ] || exit 77
mkdir "$work/mnt"
trap 'fusermount -u "$work/mnt" 2> /dev/null || umount "$work/mnt"; wait; rm -rf "$work"' EXIT
# A first line of 31 bytes ends the first MiB inside a dump line, which must not
# be decoded when the read after it fails.
{ printf '%030d\n' 0; for _ in $(seq 40000); do
  printf '1700000000.15\nDecompressed payload (19 bytes)\n0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n0010  32 33 7d\n'
done; } > "$work/log"
"$program" -2 < "$work/log" > "$work/all"
"$py" - "$work/log" "$work/mnt" << 'PY' &
import errno, stat, sys
from fusepy import FUSE, FuseOSError, Operations
data = open(sys.argv[1], 'rb').read()

class FailingDisk(Operations):
    def getattr(self, path, fh=None):
        if path == '/':
            return {'st_mode': stat.S_IFDIR | 0o755, 'st_nlink': 2}
        if path not in ('/log', '/unsized'):
            raise FuseOSError(errno.ENOENT)
        return {'st_mode': stat.S_IFREG | 0o444, 'st_nlink': 1,
                'st_size': len(data) if path == '/log' else 0}

    # A file that claims no size, as those under /proc; direct reads reach it
    # all the same.
    def open(self, path, fi):
        fi.direct_io = path == '/unsized'
        return 0

    # Reads of the unsized file stop short at the first MiB, whatever their size.
    def read(self, path, size, offset, fh):
        if offset + size > 1 << 20 and (path == '/log' or offset >= 1 << 20):
            raise FuseOSError(errno.EIO)
        return data[offset:min(offset + size, 1 << 20)]

FUSE(FailingDisk(), sys.argv[2], foreground=True, ro=True, raw_fi=True)
PY
await 20 '[ -e "$work/mnt/log" ]' || exit 77

noread='Source file can'"'"'t be read\n'
# What was written before the error is kept: the start of the results, not nothing.
kept="[ -s out ] && cmp -s out <(head -c \"\$(stat -c %s out)\" '$work/all')"
t "standard input" "" "-2 < '$work/mnt/log' > out" "" "" "$noread" 1 "$kept"
t "a file that claims no size" "" "-2 '$work/mnt/unsized' out" "" "" "$noread" 1 "$kept"
t "read error and full disk" "" "-2 < '$work/mnt/log' > /dev/full" "" "" "$noread" 1 ""
echo "$((rows - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
