#!/usr/bin/env bash
# Lints the manual page; any warning fails.
set -eu
warnings=$(LC_ALL=C.UTF-8 groff -mandoc -ww -z "$1" 2>&1)
[ -z "$warnings" ] || { echo "$warnings"; exit 1; }
