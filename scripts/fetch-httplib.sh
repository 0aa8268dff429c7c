#!/usr/bin/env bash
# The HTTP library for the Windows build of `qk42rt serve`: Debian's cpp-httplib, the same
# version and security patch as the libcpp-httplib-dev the Linux build uses, from Debian's
# source package. Debian ships it for Linux compiled and split in two; the mingw build needs
# the single header it is made from. Both archives are checked against the checksums below.
# Idempotent: does nothing when the header is in place. Prints where it is.
set -euo pipefail

version=0.11.4
debian_revision=1+deb12u1
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}/pool/main/c/cpp-httplib
root=$(cd "$(dirname "$0")/.." && pwd)
dest=$root/.deps/cpp-httplib-$version
header=$dest/httplib.h

if [[ -f $header ]]; then echo "$header"; exit 0; fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fetch() {  # fetch FILE SHA256
  curl -fsS --retry 3 -o "$work/$1" "$mirror/$1"
  echo "$2  $work/$1" | sha256sum -c --quiet - ||
    { echo "fetch-httplib: $1 does not match its checksum" >&2; exit 1; }
}
fetch "cpp-httplib_$version+ds.orig.tar.xz" \
  8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb
fetch "cpp-httplib_$version+ds-$debian_revision.debian.tar.xz" \
  a0adf8a38610806f6d94ba69839438635e5e6580775e28ff31d6a081e34f1484

tar -C "$work" -xf "$work/cpp-httplib_$version+ds.orig.tar.xz"
tar -C "$work" -xf "$work/cpp-httplib_$version+ds-$debian_revision.debian.tar.xz"
source_dir=$(find "$work" -maxdepth 2 -name httplib.h -printf '%h\n' | head -1)
while read -r patch; do
  [[ -z $patch || $patch == \#* ]] && continue
  patch -s -d "$source_dir" -p1 <"$work/debian/patches/$patch"
done <"$work/debian/patches/series"
mkdir -p "$dest"
cp "$source_dir/httplib.h" "$source_dir/LICENSE" "$dest/"
echo "$header"
