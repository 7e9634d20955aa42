#!/usr/bin/env bash
# sdl12-compat, the SDL 1.2 library that current distributions ship (the SDL 1.2 interface
# on top of SDL 2), made ready beside the classic library without installing it:
#   toolchain/sdl12-compat.sh          prints the directory that holds its libSDL-1.2.so.0
# A program built against SDL 1.2 runs on it unchanged with LD_LIBRARY_PATH set to that
# directory. Debian 12's libsdl1.2-compat is fetched with apt-get download and unpacked only
# (dpkg-deb -x); the SDL 2 library it loads, libsdl2-2.0-0, is an ordinary installed package
# (scripts/deps.sh test). Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by
# this script's contents and the package's version, and made in a temporary directory
# renamed into place, so a cache entry is whole or absent.
set -euo pipefail
cache=${XDG_CACHE_HOME:-$HOME/.cache}/ringwave
package=libsdl1.2-compat
arch=$(dpkg --print-architecture)

. "$(dirname "$0")/../scripts/lib/apt.sh"  # apt_retry

version() {
    apt-cache policy "$package:$arch" 2>/dev/null | awk '$1 == "Candidate:" { print $2 }'
}
if [ -z "$(version)" ] || [ "$(version)" = "(none)" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "sdl12-compat.sh: apt knows no $package; as root, run: apt-get update" >&2
        exit 1
    fi
    apt_retry apt-get update -q >&2
fi
version=$(version)
case "$version" in ""|"(none)") echo "sdl12-compat.sh: no $package in apt's lists" >&2; exit 1;; esac

key=$( (cat "$0"; echo "$package $version $arch") | sha256sum | cut -c1-16)
dir=$cache/sdl12-compat-$key
if [ -e "$dir/libSDL-1.2.so.0" ]; then
    echo "$dir"
    exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/.sdl12-compat-work.XXXXXX")
trap 'rm -rf "$work"' EXIT
(
    cd "$work"
    # As root apt cannot hand the download to its sandbox user in a private directory.
    apt_retry apt-get download -q -o APT::Sandbox::User=root "$package:$arch=$version" \
        > download.log 2>&1 || { cat download.log >&2; exit 1; }
    dpkg-deb -x "$package"_*.deb unpacked
)
library=$(find "$work/unpacked" -name libSDL-1.2.so.0 | head -1)  # a link to the file
[ -n "$library" ] || { echo "sdl12-compat.sh: no libSDL-1.2.so.0 in $package" >&2; exit 1; }
mkdir -p "$work/lib"
cp -L "$library" "$work/lib/libSDL-1.2.so.0"
echo "$package $version" > "$work/lib/package"
# Another run may have put the same entry in place meanwhile: then that one serves.
mv -T "$work/lib" "$dir" 2> /dev/null || [ -e "$dir/libSDL-1.2.so.0" ]
echo "$dir"
