#!/usr/bin/env bash
# The pieces of the emulated boards that do not come from this project, made ready and cached:
#   boards/debian-image.sh          prints the directory that holds them
# - vmlinuz: Debian's own kernel for ARMv7 boards (linux-image-*-armmp, armhf), unpacked only.
# - modules/*.ko and dtbs/*.dtb: the modules the boards that boot this kernel name
#   (boards/*/board) with what they depend on, and their device trees as Debian ships them (a
#   board's own changes are its overlay). A named module the kernel's configuration leaves out
#   (the table own_modules below) is built here from linux-source-6.1's driver folder against
#   the kernel package's own headers (linux-headers-*-armmp, with Debian's linux-kbuild-6.1),
#   with the compiler Debian builds the kernel with (arm-linux-gnueabihf-gcc-12).
# - busybox: Debian's static busybox for armel (ARMv5, soft float), unpacked only: the user
#   space of every board.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script's contents and
# the boards' modules and trees, and made in a temporary directory renamed into place, so a
# cache entry is whole or absent. As root it adds the armhf and armel architectures to dpkg and
# runs apt-get update when needed.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_update, debs_unpack
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit
boards=(/usr/bin/python3 "$(dirname "$0")/boards.py")
modules=$("${boards[@]}" modules "$(basename "$0")")
trees=$("${boards[@]}" devicetrees "$(basename "$0")")
image=$cache_dir/board-$( { cat "$0"; echo "$modules"; echo "$trees"; } | cache_key)
cache_begin "$image" busybox || { echo "$image"; exit 0; }

# The newest armmp kernel package the archive has, found through its meta-package.
kernel_package() {
    apt-cache depends linux-image-armmp:armhf 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9].*-armmp(:armhf)?$/ { print $2; exit }'
}
if [ -z "$(kernel_package)" ] || ! apt-cache show busybox-static:armel > /dev/null 2>&1; then
    if [ "$(id -u)" != 0 ]; then
        echo "debian-image.sh: apt knows no armhf kernel or armel busybox; as root, run:" >&2
        echo "  dpkg --add-architecture armhf && dpkg --add-architecture armel && apt-get update" >&2
        exit 1
    fi
    dpkg --add-architecture armhf
    dpkg --add-architecture armel
    apt_update debian-image.sh linux-image-armmp:armhf busybox-static:armel
fi
kernel=$(kernel_package)
[ -n "$kernel" ] || { echo "debian-image.sh: no linux-image-*-armmp package found" >&2; exit 1; }

work=$cache_work
debs_unpack "$work" "$kernel" busybox-static:armel
mv "$work/${kernel%%:*}" "$work/kernel"
mv "$work/busybox-static" "$work/busybox"
out=$work/image
mkdir -p "$out"
cp "$work"/kernel/boot/vmlinuz-* "$out/vmlinuz"

# The drivers Debian's armmp kernel does not build, "MODULE FOLDER OPTION" a line: the module,
# its folder in the kernel source and the configuration option that builds it.
own_modules="pl111_drm drivers/gpu/drm/pl111 CONFIG_DRM_PL111"
# own_module NAME: builds the module NAME of own_modules into $work/own; prints its file.
own_module() {
    local name=$1 folder option release headers deb
    read -r _ folder option < <(awk -v name="$name" '$1 == name' <<< "$own_modules") ||
        { echo "debian-image.sh: no module $name in $kernel" >&2; return 1; }
    release=${kernel#linux-image-}
    release=${release%%:*}
    headers=$work/headers/root/usr/src/linux-headers-$release
    if [ ! -d "$headers" ]; then
        debs_unpack "$work/headers" "linux-headers-$release:armhf" \
            "linux-headers-${release%-*}-common" linux-kbuild-6.1
        # One tree: the headers reach the common headers and kbuild's tools by their paths.
        for deb in "$work"/headers/*.deb; do
            dpkg-deb -x "$deb" "$work/headers/root"
        done
        sed -i "s|/usr/src/|$work/headers/root/usr/src/|" "$headers/Makefile"
    fi
    mkdir -p "$work/own"
    tar -xJf /usr/src/linux-source-6.1.tar.xz -C "$work/own" "linux-source-6.1/$folder"
    # The driver's table of devices only names the module's aliases, for loading on demand
    # (the boards load it by name); Debian's modpost for 32-bit targets takes an amba_id for
    # 16 bytes (it is 12 on ARM) and refuses the table.
    sed -i '/^MODULE_DEVICE_TABLE(amba, /d' "$work/own/linux-source-6.1/$folder"/*.c
    make -s -C "$headers" M="$work/own/linux-source-6.1/$folder" \
         CROSS_COMPILE=arm-linux-gnueabihf- "$option=m" modules > "$work/own/build.log" 2>&1 ||
        { cat "$work/own/build.log" >&2; return 1; }
    echo "$work/own/linux-source-6.1/$folder/$name.ko"
}

# A module and what it depends on (its own "depends=" entry).
mkdir -p "$out/modules"
copy_module() {
    local name=$1 file dep
    file=$(find "$work/kernel/lib/modules" \( -name "$name.ko" -o -name "${name//_/-}.ko" \) |
           head -n 1)
    if [ -z "$file" ]; then
        file=$(own_module "$name") || return 1
    fi
    for dep in $(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
        copy_module "$dep"
    done
    cp "$file" "$out/modules/"
}
for module in $modules; do
    copy_module "$module"
done
for tree in $trees; do
    mkdir -p "$out/$(dirname "$tree")"
    cp "$work"/kernel/usr/lib/linux-image-*/"$(basename "$tree")" "$out/$tree"
done
cp "$work/busybox/bin/busybox" "$out/busybox"
echo "$kernel" > "$out/kernel-package"

cache_commit "$out" "$image"
echo "$image"
