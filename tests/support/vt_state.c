/* Test-only, runs on the board: prints the state of the Linux virtual terminals in one line,
 *   active N; ttyN MODE KEYBOARD; ...
 * for every allocated terminal, MODE being "text" or "graphics" (KDGETMODE) and KEYBOARD one
 * of "raw", "xlate", "mediumraw", "unicode" or "off" (KDGKBMODE). Exit status 1 when the
 * console cannot be asked. */
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <stdio.h>
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

int main(void) {
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
