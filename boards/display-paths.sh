# Sourced by the board tests and measurements: the emulated boards, one per display path (the
# kind of framebuffer a device has), and what each needs from boards/debian-image.sh (IMAGE)
# and boards/versatile-kernel.sh (KERNEL).
#   vexpress-fb8     qemu-system-arm -M vexpress-a9 (Cortex-A9), Debian's armmp kernel: the
#                    PL111 colour LCD controller under the fbdev driver amba-clcd, switched to
#                    320 x 200 with 8-bit palette entries; the PL050 keyboard
#   virt-drm32       -M virt (Cortex-A15), Debian's armmp kernel: a virtio GPU under the DRM's
#                    fbdev emulation, a 1280 x 800 XRGB8888 panel; a virtio keyboard
#   virt-drm32-portrait  the same board with a 240 x 320 panel (a portrait panel, which ringwave
#                    shows on only turned: SDL_VIDEO_FBCON_ROTATION)
#   virt-drm32-qvga  the same board with a 320 x 240 panel: the portrait panel's picture
#                    unturned, for the measurements
#   versatile-fb8    -M versatilepb (ARM926EJ-S, the device's processor), the kernel of
#                    boards/versatile-kernel.sh: its PL110 under amba-clcd, 8-bit palettised
#   versatile-drm16  the same board with the DRM driver pl111: an RGB565 panel
# A new board is one more entry in display_path_board.

display_paths="vexpress-fb8 virt-drm32 virt-drm32-portrait virt-drm32-qvga versatile-fb8
               versatile-drm16"

# display_path_board DISPLAY IMAGE KERNEL DIR: sets the board of a display path: machine (qemu's
# machine and devices), kernel_file, dtb (empty: qemu's own tree; a changed tree is written into
# DIR), modules and load (the folder of the kernel's modules and the file that names those to
# load, in load order), panel (the text console's screen, "W H") and colours (how the screen
# shows a frame's colours, in frame_check's names). Returns 1, with a message, for an unknown
# path or a missing piece.
display_path_board() {
    local display=$1 image=$2 kernel=$3 dir=$4
    case "$display" in
    vexpress-fb8)
        machine=(-M vexpress-a9 -m 256)
        kernel_file=$image/vmlinuz dtb=$image/board.dtb
        modules=$image/modules load=$image/modules/vexpress.load
        panel="640 480" colours=palette
        ;;
    virt-drm32 | virt-drm32-portrait | virt-drm32-qvga)
        # The board's own device tree, from qemu; virtio devices modern, not legacy. The GPU's
        # display size is the panel's.
        case "$display" in
        virt-drm32) panel="1280 800" ;;
        virt-drm32-portrait) panel="240 320" ;;
        *) panel="320 240" ;;
        esac
        colours=xrgb8888
        machine=(-M virt -m 256 -global virtio-mmio.force-legacy=false
                 -device "virtio-gpu-device,xres=${panel% *},yres=${panel#* }"
                 -device virtio-keyboard-device)
        kernel_file=$image/vmlinuz dtb=
        modules=$image/modules load=$image/modules/virt.load
        ;;
    versatile-fb8)
        _versatile_board "$kernel" "$dir" || return 1
        _versatile_clcd_panel "$image/board.dtb" || return 1
        load=$modules/amba-clcd.load panel="640 480" colours=palette
        ;;
    versatile-drm16)
        _versatile_board "$kernel" "$dir" || return 1
        load=$modules/pl111_drm.load panel="800 600" colours=rgb565
        ;;
    *)
        echo "unknown display path '$display' (known: $display_paths)" >&2
        return 1
        ;;
    esac
}

# The versatilepb board with the kernel of boards/versatile-kernel.sh, its tree copied into DIR.
_versatile_board() {
    local kernel=$1 dir=$2
    machine=(-M versatilepb -m 128)
    kernel_file=$kernel/zImage dtb=$dir/versatile-pb.dtb
    modules=$kernel/modules
    [ -f "$kernel_file" ] || { echo "no versatilepb kernel in '$kernel'" >&2; return 1; }
    mkdir -p "$dir"
    cp "$kernel/versatile-pb.dtb" "$dtb"
}

# amba-clcd drives only a "panel-dpi" panel with its timings (the versatilepb tree names the
# board's own panel detection there: made the 640 x 480 panel with 60 Hz VGA timings that
# boards/debian-image.sh gives the vexpress board, whose tree VEXPRESS_DTB is), and takes the
# 8-bit palettised modes only from a PL111 (the tree's peripheral id, read from qemu's
# controller, says PL110).
_versatile_clcd_panel() {
    local vexpress_dtb=$1 property
    local clcd=/amba/display@10120000 panel_node=/amba/fpga/sysreg@0/display@0
    local vga_timing=/bus@40000000/motherboard-bus@40000000/iofpga@7,00000000/i2c@16000
    vga_timing=$vga_timing/dvi-transmitter@39/panel-timing
    if [ "$(fdtget "$dtb" "$panel_node" compatible 2>/dev/null)" != arm,versatile-tft-panel ] ||
            ! fdtget "$dtb" "$clcd" reg > /dev/null 2>&1; then
        echo "no LCD controller or panel in the versatilepb device tree" >&2
        return 1
    fi
    fdtput -t x "$dtb" "$clcd" arm,primecell-periphid 00041111
    fdtput -t s "$dtb" "$panel_node" compatible panel-dpi
    fdtput -c "$dtb" "$panel_node/panel-timing"
    for property in $(fdtget -p "$vexpress_dtb" "$vga_timing"); do
        fdtput -t u "$dtb" "$panel_node/panel-timing" "$property" \
            "$(fdtget -t u "$vexpress_dtb" "$vga_timing" "$property")"
    done
}
