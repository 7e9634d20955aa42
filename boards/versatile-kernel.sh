#!/usr/bin/env bash
# The kernel of the emulated board with the device's own processor (qemu-system-arm -M
# versatilepb, ARM926EJ-S, ARMv5TE), built from Debian's linux-source-6.1 with Debian's
# arm-linux-gnueabi cross compiler, made ready and cached:
#   boards/versatile-kernel.sh          prints the directory that holds it
# - zImage: versatile_defconfig trimmed to what the board tests use (see the fragment below):
#   both display drivers of the board's PL110/PL111 colour LCD controller as modules, so that
#   each boot loads one of them: the DRM driver pl111 (a 16-bit panel through the DRM's fbdev
#   emulation) or the fbdev driver amba-clcd (8-bit palettised modes); the framebuffer text
#   console and virtual terminals; the PS/2 keyboard on the PL050 (AMBA KMI); the mouse
#   multiplexer's nodes (/dev/input/mice, /dev/psaux: SDL opens them, as on Debian's kernel,
#   though no mouse is attached); the PL031 real-time clock; an initramfs.
# - versatile-pb.dtb: the board's device tree, as the kernel source has it.
# - modules/*.ko: every module built; modules/<driver>.load: the modules that load one display
#   driver, in load order (dependencies first), for <driver> pl111_drm and amba-clcd.
# - kernel-release, config: the kernel's release string and its whole configuration.
# Cached under ${XDG_CACHE_HOME:-$HOME/.cache}/ringwave/, keyed by this script (which holds the
# configuration) and the versions of the kernel source and the compiler; built in a scratch
# folder renamed into place when whole. About 9 minutes on two cores the first time.
set -euo pipefail
jobs=${RINGWAVE_JOBS:-2}
cross=arm-linux-gnueabi-
tarball=/usr/src/linux-source-6.1.tar.xz

packages="linux-source-6.1 gcc-arm-linux-gnueabi bison flex bc"
# shellcheck disable=SC2086  # the package names, split
versions=$(dpkg-query -W -f='${Package} ${Version}\n' $packages) ||
    { echo "versatile-kernel.sh: needs $packages (scripts/deps.sh board)" >&2; exit 1; }
. "$(dirname "$0")/../scripts/lib/cache.sh"  # cache_key, cache_begin, cache_commit
key=$( { cat "$0"; echo "$versions"; "${cross}gcc" --version | head -1; } | cache_key)
kernel=$cache_dir/versatile-kernel-$key
cache_begin "$kernel" zImage || { echo "$kernel"; exit 0; }
work=$cache_work
start=$(date +%s)
echo "-- versatilepb kernel from linux-source-6.1: about 9 minutes on two cores" >&2
tar -xJf "$tarball" -C "$work"
src=$work/linux-source-6.1

# Set (=y, =m, a value) or switched off ("is not set") on top of versatile_defconfig. The
# defconfig's own keyboard path (SERIO_AMBAKMI, the default ATKBD) is kept and named; a kernel
# built up from allnoconfig instead draws but never raises keyboard interrupts.
cat > "$work/fragment.config" <<'CONFIG'
CONFIG_LOCALVERSION="-ringwave"
CONFIG_BLK_DEV_INITRD=y
CONFIG_RD_GZIP=y
CONFIG_DEVTMPFS=y
CONFIG_TMPFS=y
CONFIG_VT=y
CONFIG_VT_CONSOLE=y
CONFIG_INPUT=y
CONFIG_INPUT_KEYBOARD=y
CONFIG_KEYBOARD_ATKBD=y
CONFIG_SERIO=y
CONFIG_SERIO_AMBAKMI=y
# CONFIG_INPUT_MOUSE is not set
CONFIG_INPUT_MOUSEDEV=y
CONFIG_INPUT_MOUSEDEV_PSAUX=y
CONFIG_RTC_CLASS=y
CONFIG_RTC_DRV_PL031=y
# CONFIG_RTC_DRV_DS1307 is not set
CONFIG_DRM=y
CONFIG_DRM_PL111=m
CONFIG_DRM_FBDEV_EMULATION=y
CONFIG_FB=y
CONFIG_FB_ARMCLCD=m
CONFIG_FRAMEBUFFER_CONSOLE=y
# CONFIG_LOGO is not set
# CONFIG_NET is not set
# CONFIG_MTD is not set
# CONFIG_SOUND is not set
# CONFIG_MMC is not set
# CONFIG_USB_SUPPORT is not set
# CONFIG_SPI is not set
# CONFIG_EEPROM_LEGACY is not set
# CONFIG_SERIAL_8250 is not set
# CONFIG_NEW_LEDS is not set
# CONFIG_EXT2_FS is not set
# CONFIG_VFAT_FS is not set
# CONFIG_CRAMFS is not set
# CONFIG_MINIX_FS is not set
# CONFIG_ROMFS_FS is not set
# CONFIG_NETWORK_FILESYSTEMS is not set
# CONFIG_DEBUG_FS is not set
# CONFIG_DEBUG_LL is not set
# CONFIG_DEBUG_USER is not set
CONFIG

make_kernel() { make -s -C "$src" ARCH=arm CROSS_COMPILE="$cross" "$@"; }
make_kernel versatile_defconfig
"$src/scripts/kconfig/merge_config.sh" -m -O "$src" "$src/.config" "$work/fragment.config" \
    > "$work/merge.log" 2>&1 || { cat "$work/merge.log" >&2; exit 1; }
make_kernel olddefconfig
# Every line of the fragment must have survived the dependencies.
missing=0
while read -r line; do
    case "$line" in
    CONFIG_*=*)
        grep -qxF "$line" "$src/.config" ||
            { echo "not in the kernel's configuration: $line" >&2; missing=1; } ;;
    "# CONFIG_"*" is not set")
        option=${line#\# }
        option=${option%% *}
        ! grep -q "^$option=" "$src/.config" || { echo "still set: $option" >&2; missing=1; } ;;
    esac
done < "$work/fragment.config"
[ "$missing" = 0 ] || exit 1

make_kernel -j"$jobs" zImage modules dtbs > "$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log" >&2; exit 1; }

out=$work/kernel
mkdir -p "$out/modules"
cp "$src/arch/arm/boot/zImage" "$out/"
cp "$src/arch/arm/boot/dts/versatile-pb.dtb" "$out/"
cp "$src/.config" "$out/config"
make_kernel kernelrelease > "$out/kernel-release"
find "$src" -name '*.ko' -exec cp {} "$out/modules/" \;

# A module's dependencies, from its own "depends=" entry, in load order, each once.
load_order() {
    local name=$1 file dep
    file=$out/modules/$name.ko
    [ -f "$file" ] || file=$out/modules/${name//_/-}.ko
    [ -f "$file" ] || { echo "versatile-kernel.sh: no module $name" >&2; return 1; }
    for dep in $(tr '\0' '\n' < "$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
        load_order "$dep"
    done
    basename "$file"
}
for driver in pl111_drm amba-clcd; do
    load_order "$driver" | awk '!seen[$0]++' > "$out/modules/$driver.load"
done

cache_commit "$out" "$kernel"
echo "-- versatilepb kernel built in $(( $(date +%s) - start )) s" >&2
echo "$kernel"
