#!/usr/bin/env bash
# The pieces of the emulated boards that do not come from this project, made ready and cached:
#   boards/debian-image.sh          prints the directory that holds them
# - vmlinuz: Debian's own kernel for ARMv7 boards (linux-image-*-armmp, armhf), unpacked only.
# - modules/*.ko and dtbs/*.dtb: the modules the boards that boot this kernel name
#   (boards/*/board) with what they depend on, and their device trees as Debian ships them (a
#   board's own changes are its overlay).
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
# A module and what it depends on (its own "depends=" entry).
mkdir -p "$out/modules"
copy_module() {
    local name=$1 file dep
    file=$(find "$work/kernel/lib/modules" \( -name "$name.ko" -o -name "${name//_/-}.ko" \) |
           head -n 1)
    [ -n "$file" ] || { echo "debian-image.sh: no module $name in $kernel" >&2; return 1; }
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
