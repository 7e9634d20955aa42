#!/usr/bin/env bash
# The SDL 1.2 of Debian 13 (trixie) and everything it runs on, in a folder laid out as a
# Debian 13 system, for the host tests to run this machine's (Debian 12) build of ringwave on:
#   toolchain/debian13-root.sh     prints the root's folder
# It holds sdl12-compat (libsdl1.2debian) over SDL 2 (libsdl2-2.0-0), sdl2-compat
# (libsdl2-compat) over SDL 3 (libsdl3-0), to which SDL 2 hands every call when the
# environment variable SDL_DYNAMIC_API names sdl2-compat's library
# (usr/lib/<triplet>/sdl2-compat/libSDL2-2.0.so.0), Mesa's GL for SDL's renderer (as on a
# Debian 13 desktop), Debian 13's C and C++ runtime and loader, and libfaketime; with all their
# dependencies as apt resolves them from Debian 13's lists. The packages are unpacked only
# (dpkg-deb -x: no maintainer scripts, no chroot): a program runs on the root with the root's
# loader as its interpreter and LD_LIBRARY_PATH set to the root's folders that ROOT/library-path
# lists, one a line, relative to the root.
# apt runs on a state of its own in the scratch folder (apt_private_fetch), against the archive
# this machine's apt takes bookworm from; the machine's own apt state is left alone.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/,
# keyed by this script's contents, made in a scratch folder and renamed into place.
set -euo pipefail
suite=trixie
packages=(libsdl1.2debian libsdl2-2.0-0 libsdl2-compat libsdl3-0 libstdc++6 libgcc-s1 libc6
          libgl1 libglx-mesa0 libfaketime)
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
arch=$(dpkg --print-architecture)

. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_private_fetch, apt_private_unpack
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit

root=$cache_dir/debian13-root-$( (cat "$0"; echo "$arch") | cache_key)
if ! cache_begin "$root" library-path; then
    echo "$root"
    exit 0
fi

# Debian 12's keyring holds Debian 13's archive keys from its update 2023.3+deb12u1 on.
[ -e "${keyring%/*}/debian-archive-$suite-stable.gpg" ] || {
    echo "debian13-root.sh: no $suite key in $keyring (upgrade debian-archive-keyring)" >&2
    exit 1
}
state=$cache_work/apt
echo "-- Debian $suite root: ${packages[*]} and their dependencies" >&2
apt_private_fetch debian13-root.sh "$state" "$suite" "$arch" "${packages[@]}"

tree=$cache_work/root
apt_private_unpack "$state" "$tree" "$tree/packages"
# Debian 13 keeps everything under /usr, reached through these links (the loader a program
# names, /lib64/ld-linux-x86-64.so.2, among them).
for dir in bin lib lib32 lib64 sbin; do
    [ -e "$tree/usr/$dir" ] && [ ! -e "$tree/$dir" ] && ln -s "usr/$dir" "$tree/$dir"
done
libc=$(find "$tree/usr/lib" -name libc.so.6 | head -n 1)
[ -n "$libc" ] || { echo "debian13-root.sh: no libc.so.6 unpacked" >&2; exit 1; }
libdir=${libc%/*}
# The library folders: the triplet's, and those that libraries name as absolute run paths
# (libpulse's private folder), which point at the machine's /usr without the root in front.
{
    echo "${libdir#"$tree"/}"
    find "$tree/usr/lib" -name '*.so*' -type f -exec readelf -d {} + 2>/dev/null |
        sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p; s/.*(RPATH).*\[\(.*\)\]/\1/p' | tr ':' '\n' |
        awk '/^\// && !seen[$0]++ { print substr($0, 2) }'
} > "$cache_work/library-path"
while read -r dir; do
    [ -d "$tree/$dir" ] || { echo "debian13-root.sh: no folder $dir in the root" >&2; exit 1; }
done < "$cache_work/library-path"
mv "$cache_work/library-path" "$tree/library-path"
grep -E '^(libsdl1.2debian|libsdl2-2.0-0|libsdl2-compat|libsdl3-0|libc6) ' "$tree/packages" >&2
cache_commit "$tree" "$root"
echo "$root"
