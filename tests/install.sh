#!/usr/bin/env bash
# Installs into a temporary prefix and runs both programs there, then packages
# a .deb (made from the same install rules) and checks what it holds.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" > /dev/null
printf '1700000000.15\nDecompressed payload (19 bytes)\n0000  7b 22 45 22 3a 31 37 30 30 30 30 30 30 30 30 31\n0010  32 33 7d\n' |
  "$prefix/usr/bin/caplat" -1 | grep -qx '27.000000'
printf '1.500000\n' | "$prefix/usr/bin/caplat-stat" --json | grep -q '"max_ns":1500000,'
cp "$build/install_manifest.txt" "$prefix/manifest"
cpack --config "$build/CPackConfig.cmake" -B "$prefix/deb" > /dev/null
# Packaging leaves the manifest of the install before it, which removes it.
cmp "$prefix/manifest" "$build/install_manifest.txt"
grep -qx "$prefix/usr/bin/caplat-stat" "$build/install_manifest.txt"
xargs rm -- < "$build/install_manifest.txt"
[ -z "$(find "$prefix/usr" -type f)" ]
contents=$(dpkg-deb -c "$prefix"/deb/caplat_*.deb)
for file in bin/caplat bin/caplat-stat share/doc/caplat/copyright share/doc/caplat/changelog.gz \
  share/man/man1/caplat.1.gz share/man/man1/caplat-stat.1.gz; do
  grep -q " ./usr/$file\$" <<< "$contents"
done
echo "install and package: ok"
