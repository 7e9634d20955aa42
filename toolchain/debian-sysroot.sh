#!/usr/bin/env bash
# A sysroot of Debian 12's own packages for an ARM architecture, for the build with Debian's
# cross compiler through the example toolchain file (cmake/toolchain-example.cmake), as a
# device's SDK would give one:
#   toolchain/debian-sysroot.sh ARCH        ARCH: armhf or arm64; prints the sysroot's folder
# It holds SDL 1.2 (libsdl1.2-dev: headers, sdl.pc, libSDL.so; its own dependencies, the
# development packages of X11, ALSA, PulseAudio ..., are left out) with the shared libraries
# libSDL-1.2.so.0 needs, which a link against it reads; the C and C++ runtime and their
# development files (libc6-dev, libstdc++-12-dev); and GoogleTest (libgtest-dev, static), with
# every dependency as apt resolves it for ARCH. The packages are unpacked only (dpkg-deb -x);
# absolute symbolic links are made relative, so that they point inside the sysroot.
# apt runs on a configuration of its own (lists, package cache and an empty package status in
# the scratch folder) with ARCH as its architecture, against the archive this machine's apt
# takes bookworm from; the machine's own apt state and dpkg's architectures are left alone.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script's contents and
# ARCH, made in a scratch folder and renamed into place.
set -euo pipefail
arch=${1:?usage: debian-sysroot.sh armhf|arm64}
case "$arch" in armhf|arm64) ;; *) echo "debian-sysroot.sh: ARCH is armhf or arm64" >&2; exit 2 ;; esac
suite=bookworm
packages=(libsdl1.2debian libc6-dev libstdc++-12-dev libgtest-dev)
alone=(libsdl1.2-dev)   # without its dependencies
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_retry, apt_archive_uri
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit

sysroot=$cache_dir/debian-sysroot-$arch-$( (cat "$0"; echo "$arch") | cache_key)
if ! cache_begin "$sysroot" packages; then
    echo "$sysroot"
    exit 0
fi

uri=$(apt_archive_uri) || true
[ -n "$uri" ] || { echo "debian-sysroot.sh: no bookworm entry in apt's sources" >&2; exit 1; }
state=$cache_work/apt
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/preferences.d"
touch "$state/status"
echo "deb [signed-by=$keyring] $uri $suite main" > "$state/sources.list"
apt_options=(
    -o Dir::State="$state" -o Dir::State::Lists="$state/lists"
    -o Dir::State::status="$state/status" -o Dir::Cache="$state/cache"
    -o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts="$state/none"
    -o Dir::Etc::Preferences="$state/none" -o Dir::Etc::PreferencesParts="$state/preferences.d"
    -o APT::Architecture="$arch" -o APT::Architectures="$arch"
    -o APT::Install-Recommends=false -o Debug::NoLocking=true
    # As root apt cannot hand the download to its sandbox user in a private directory.
    -o APT::Sandbox::User=root
)
echo "-- Debian $suite sysroot for $arch: ${packages[*]} ${alone[*]}" >&2
apt_retry apt-get "${apt_options[@]}" update -q > "$cache_work/update.log" 2>&1 ||
    { cat "$cache_work/update.log" >&2; exit 1; }
# With an empty status every dependency, down to the C library, is fetched.
apt_retry apt-get "${apt_options[@]}" install -y -q --download-only "${packages[@]}" \
    > "$cache_work/download.log" 2>&1 || { cat "$cache_work/download.log" >&2; exit 1; }
(cd "$state/cache/archives" &&
    apt_retry apt-get "${apt_options[@]}" download -q "${alone[@]}" > "$cache_work/alone.log" 2>&1) ||
    { cat "$cache_work/alone.log" >&2; exit 1; }

tree=$cache_work/sysroot
mkdir -p "$tree"
for deb in "$state"/cache/archives/*.deb; do
    dpkg-deb -x "$deb" "$tree"
    dpkg-deb --show --showformat='${Package} ${Version}\n' "$deb" >> "$cache_work/packages"
done
# Absolute links (libfoo.so -> /lib/<triplet>/libfoo.so.1) made relative to where they are.
find "$tree" -type l -lname '/*' -print0 |
    while IFS= read -r -d '' link; do
        target=$(readlink "$link")
        ln -sfn "$(realpath -m --relative-to="${link%/*}" "$tree$target")" "$link"
    done
[ -e "$tree/usr/include/SDL/SDL.h" ] && [ -n "$(find "$tree/usr/lib" -name sdl.pc)" ] ||
    { echo "debian-sysroot.sh: no SDL 1.2 headers or sdl.pc unpacked" >&2; exit 1; }
grep -E '^(libsdl1.2-dev|libc6|libstdc\+\+-12-dev|libgtest-dev) ' "$cache_work/packages" >&2
mv "$cache_work/packages" "$tree/packages"
cache_commit "$tree" "$sysroot"
echo "$sysroot"
