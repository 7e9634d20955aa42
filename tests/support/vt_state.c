/* Test-only, runs on the board: prints the state of the Linux virtual terminals in one line,
 *   active N; ttyN MODE KEYBOARD; ...
 * for every allocated terminal, MODE being "text" or "graphics" (KDGETMODE) and KEYBOARD one
 * of "raw", "xlate", "mediumraw", "unicode" or "off" (KDGKBMODE). With the word "fb", the
 * mode of the framebuffer /dev/fb0 instead (FBIOGET_VSCREENINFO):
 *   WxH virtual VWxVH offset X,Y BPP bpp
 * With the words "fb BPP", first sets /dev/fb0 to BPP bits a pixel, the rest of its mode kept
 * (FBIOPUT_VSCREENINFO, every console on it following), then prints its mode as "fb" does.
 * Exit status 1 when the console or the framebuffer cannot be asked, or refuses the depth. */
#include <fcntl.h>
#include <linux/fb.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static const char* keyboardMode(int mode) {
    switch (mode) {
        case K_RAW:
            return "raw";
        case K_XLATE:
            return "xlate";
        case K_MEDIUMRAW:
            return "mediumraw";
        case K_UNICODE:
            return "unicode";
        case K_OFF:
            return "off";
        default:
            return "unknown";
    }
}

/* depth 0: the mode as it is. */
static int framebufferMode(unsigned depth) {
    int fb = open("/dev/fb0", depth ? O_RDWR : O_RDONLY);
    struct fb_var_screeninfo mode;
    if (fb < 0 || ioctl(fb, FBIOGET_VSCREENINFO, &mode) < 0) {
        perror("vt_state: /dev/fb0");
        return 1;
    }
    if (depth) {
        mode.bits_per_pixel = depth;
        mode.activate = FB_ACTIVATE_NOW | FB_ACTIVATE_ALL;
        /* The driver sets the channels' layout for the depth; the kernel writes back the mode
         * it has taken, which may differ from the one asked for. */
        if (ioctl(fb, FBIOPUT_VSCREENINFO, &mode) < 0) {
            perror("vt_state: /dev/fb0: the depth refused");
            return 1;
        }
        if (mode.bits_per_pixel != depth) {
            fprintf(stderr, "vt_state: /dev/fb0 took %u bpp, not %u\n", mode.bits_per_pixel, depth);
            return 1;
        }
        if (ioctl(fb, FBIOGET_VSCREENINFO, &mode) < 0) {
            perror("vt_state: /dev/fb0");
            return 1;
        }
    }
    close(fb);
    printf("%ux%u virtual %ux%u offset %u,%u %u bpp\n", mode.xres, mode.yres, mode.xres_virtual,
           mode.yres_virtual, mode.xoffset, mode.yoffset, mode.bits_per_pixel);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "fb") == 0) {
        return framebufferMode(argc > 2 ? (unsigned)strtoul(argv[2], NULL, 10) : 0);
    }
    int console = open("/dev/tty0", O_RDONLY);
    struct vt_stat state;
    if (console < 0 || ioctl(console, VT_GETSTATE, &state) < 0) {
        perror("vt_state: /dev/tty0");
        return 1;
    }
    printf("active %d", state.v_active);
    /* v_state has one bit per terminal 1..15 that is allocated (bit 0 is unused). */
    for (int vt = 1; vt < 16; ++vt) {
        if (!(state.v_state & (1u << vt))) continue;
        char path[16];
        snprintf(path, sizeof path, "/dev/tty%d", vt);
        int tty = open(path, O_RDONLY | O_NOCTTY);
        int mode = -1, keyboard = -1;
        if (tty < 0 || ioctl(tty, KDGETMODE, &mode) < 0 || ioctl(tty, KDGKBMODE, &keyboard) < 0) {
            perror(path);
            return 1;
        }
        close(tty);
        printf("; tty%d %s %s", vt, mode == KD_TEXT ? "text" : "graphics", keyboardMode(keyboard));
    }
    printf("\n");
    return 0;
}
