#!/usr/bin/env bash
# Installs the Debian packages ringwave needs for the given purposes:
#   deps.sh build   compiler, CMake and SDL 1.2 (enough to build and run the demo)
#   deps.sh test    build, plus GoogleTest, Google Benchmark, an X server and its tools,
#                   SDL 2, which sdl12-compat runs on (toolchain/sdl12-compat.sh fetches it),
#                   patchelf and Debian's archive keys, with which the tests run ringwave on
#                   the SDL 1.2 of Debian 13 (toolchain/debian13-root.sh)
#   deps.sh arm     the ARM cross compiler, qemu user-mode emulation, SDL's source tools,
#                   GoogleTest's sources (toolchain/glibc-sysroot.sh builds both for the target),
#                   uClibc-ng's source with the kernel headers it is built against
#                   (toolchain/uclibc-toolchain.sh), gcc's source and the cross compiler's
#                   plugin headers (its target configuration), which the compiler's runtime for
#                   ARMv4T is built from and with (toolchain/libgcc.sh), Python for the check of
#                   the board's per-frame breakdown; Debian's armhf and arm64 cross compilers,
#                   used as a device's SDK is (toolchain/debian-sysroot.sh makes their sysroots)
#   deps.sh board   the emulated ARM test boards: qemu-system-arm, the device tree tools, cpio
#                   (boards/debian-image.sh fetches Debian's kernel and busybox, and builds the
#                   drivers that kernel leaves out with Debian's armhf cross compiler and its
#                   kbuild tools, which need libelf), and what boards/versatile-kernel.sh builds
#                   the versatilepb board's kernel from and with (Debian's linux-source-6.1, the
#                   ARM cross compiler, bc, bison, flex, perl)
#   deps.sh profile the per-frame breakdown on the boards (bench/board/frame-costs.sh): a
#                   C compiler and GLib's headers for its qemu plugin, Debian's Python with
#                   matplotlib for its tables and picture
# Installs only what is missing. Without root it prints the apt-get line to run and fails.
set -euo pipefail

packages=()
for purpose in "$@"; do
    case "$purpose" in
    build) packages+=(build-essential cmake pkg-config libsdl1.2-dev) ;;
    test)  packages+=(build-essential cmake pkg-config libsdl1.2-dev libgtest-dev
                      libbenchmark-dev xvfb xauth xdotool x11-utils imagemagick faketime
                      libx11-dev libsdl2-2.0-0 patchelf debian-archive-keyring) ;;
    arm)   packages+=(gcc-arm-linux-gnueabi g++-arm-linux-gnueabi qemu-user dpkg-dev
                      g++-arm-linux-gnueabihf g++-aarch64-linux-gnu
                      libglib2.0-dev build-essential cmake pkg-config libgtest-dev
                      uclibc-source linux-libc-dev-armel-cross xz-utils python3
                      gcc-12-source gcc-12-plugin-dev-arm-linux-gnueabi) ;;
    board) packages+=(qemu-system-arm device-tree-compiler cpio imagemagick
                      linux-source-6.1 gcc-arm-linux-gnueabi gcc-arm-linux-gnueabihf libelf1
                      build-essential bc bison flex perl xz-utils) ;;
    profile) packages+=(build-essential libglib2.0-dev pkg-config dpkg-dev python3
                        python3-matplotlib) ;;
    *) echo "deps.sh: unknown purpose '$purpose' (build, test, arm, board or profile)" >&2
       exit 2 ;;
    esac
done

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
# Unique, in the order first named.
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | awk '!seen[$0]++')

if [ "$(id -u)" != 0 ]; then
    echo "ringwave needs these Debian packages; as root, run:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi
. "$(dirname "$0")/lib/apt.sh"  # apt_update, apt_unknown
# Another installation (or an unattended upgrade) may hold dpkg's lock: wait for it and try
# again, up to ten minutes.
apt_install() {
    local try
    for try in $(seq 20); do
        apt-get -o DPkg::Lock::Timeout=30 install -y -q --no-install-recommends "$@" >&2 &&
            return 0
        echo "apt-get install failed (lock held?); retrying ($try)" >&2
        sleep 10
    done
    apt-get install -y -q --no-install-recommends "$@" >&2
}
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt_update deps.sh "${missing[@]}"
apt_install "${missing[@]}"
