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
package=libsdl1.2-compat
arch=$(dpkg --print-architecture)

. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_refresh, debs_unpack
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit

version() {
    apt-cache policy "$package:$arch" 2>/dev/null | awk '$1 == "Candidate:" { print $2 }'
}
known() { case "$(version)" in ""|"(none)") return 1 ;; esac; }
apt_refresh sdl12-compat.sh "$package" known
known || { echo "sdl12-compat.sh: no $package in apt's lists" >&2; exit 1; }
version=$(version)

dir=$cache_dir/sdl12-compat-$( (cat "$0"; echo "$package $version $arch") | cache_key)
if cache_begin "$dir" libSDL-1.2.so.0; then
    debs_unpack "$cache_work" "$package:$arch=$version"
    library=$(find "$cache_work/$package" -name libSDL-1.2.so.0 | head -1)  # a link to the file
    [ -n "$library" ] || { echo "sdl12-compat.sh: no libSDL-1.2.so.0 in $package" >&2; exit 1; }
    mkdir -p "$cache_work/lib"
    cp -L "$library" "$cache_work/lib/libSDL-1.2.so.0"
    echo "$package $version" > "$cache_work/lib/package"
    cache_commit "$cache_work/lib" "$dir"
fi
echo "$dir"
