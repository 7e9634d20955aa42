#!/usr/bin/env bash
# The pieces of the emulated test boards with an ARMv7 processor (qemu-system-arm -M vexpress-a9
# and -M virt) that do not come from this project, made ready and cached:
#   boards/debian-image.sh          prints the directory that holds them
# - vmlinuz: Debian's own kernel for ARMv7 boards (linux-image-*-armmp, armhf), unpacked only;
#   its fbdev driver for the PL111 colour LCD controller (amba-clcd) is built in.
# - modules/*.ko: its modules the boards load; modules/BOARD.load names those of one board in
#   load order (dependencies first): vexpress.load the PL050 keyboard/mouse interface
#   (ambakmi); virt.load the virtio devices on the memory bus (virtio_mmio), the virtio GPU
#   with the DRM and its fbdev emulation (virtio-gpu), the virtio keyboard (virtio_input).
# - board.dtb: its device tree for the board, with the LCD made usable: amba-clcd only takes a
#   "panel-dpi" panel with its timings (the stock tree names a DVI transmitter there), and of
#   the two LCD controllers only the one qemu shows on its first console is left enabled.
# - busybox: Debian's static busybox for armel (ARMv5, soft float), unpacked only.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script's contents, and
# made in a temporary directory renamed into place, so a cache entry is whole or absent. As
# root it adds the armhf and armel architectures to dpkg and runs apt-get update when needed.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib/apt.sh"    # apt_update, debs_unpack
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit
image=$cache_dir/board-$(cache_key < "$0")
cache_begin "$image" board.dtb || { echo "$image"; exit 0; }

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
# A module and what it depends on (its own "depends=" entry), in load order, each once.
mkdir -p "$out/modules"
load_order() {
    local name=$1 file dep
    file=$(find "$work/kernel/lib/modules" \( -name "$name.ko" -o -name "${name//_/-}.ko" \) |
           head -n 1)
    [ -n "$file" ] || { echo "debian-image.sh: no module $name in $kernel" >&2; return 1; }
    for dep in $(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
        load_order "$dep"
    done
    cp "$file" "$out/modules/"
    basename "$file"
}
load_order ambakmi > "$out/modules/vexpress.load"
{ load_order virtio_mmio; load_order virtio-gpu; load_order virtio_input; } |
    awk '!seen[$0]++' > "$out/modules/virt.load"
cp "$work/busybox/bin/busybox" "$out/busybox"
echo "$kernel" > "$out/kernel-package"

dtb=$out/board.dtb
cp "$work"/kernel/usr/lib/linux-image-*/vexpress-v2p-ca9.dtb "$dtb"
# The daughterboard's CLCD (qemu's first console) talks to the DVI transmitter's node: make that
# node a 640 x 480 panel-dpi panel with 60 Hz VGA timings, the size of the text console.
iofpga=/bus@40000000/motherboard-bus@40000000/iofpga@7,00000000
panel=$iofpga/i2c@16000/dvi-transmitter@39
fdtput -t s "$dtb" "$panel" compatible panel-dpi
fdtput -c "$dtb" "$panel/panel-timing"
while read -r property value; do
    fdtput -t u "$dtb" "$panel/panel-timing" "$property" "$value"
done <<'TIMING'
clock-frequency 25175000
hactive 640
vactive 480
hfront-porch 16
hback-porch 48
hsync-len 96
vfront-porch 10
vback-porch 33
vsync-len 2
TIMING
# The motherboard's CLCD shows on qemu's second console only.
fdtput -t s "$dtb" "$iofpga/clcd@1f000" status disabled

cache_commit "$out" "$image"
echo "$image"
