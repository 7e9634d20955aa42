// ringwave-console: gives the device's console back after a run that could not (SIGKILL, the
// kernel's out-of-memory killer). It does to the terminal what SDL 1.2's shutdown would have:
// unlocks terminal switching (VT_LOCKSWITCH: locked, the kernel ignores every switch), puts
// the active terminal back in text mode and its keyboard in the kernel's default mode (Unicode,
// or plain translation where the kernel was started with vt.default_utf8=0). A switch to a
// terminal afterwards (chvt) brings the framebuffer back in that terminal's mode.
//   ringwave-console        (as root)
// Exit status 0, or 1 with one line on standard error.
#include <fcntl.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "ringwave-console: %s: %s\n", what, std::strerror(errno));
    return 1;
}

// The keyboard mode the kernel gives a new terminal.
int defaultKeyboardMode() {
    std::FILE* setting = std::fopen("/sys/module/vt/parameters/default_utf8", "r");
    if (setting == nullptr) return K_UNICODE;
    const int first = std::fgetc(setting);
    std::fclose(setting);
    return first == '0' ? K_XLATE : K_UNICODE;
}

}  // namespace

int main(int argc, char** /*argv*/) {
    if (argc > 1) {
        std::fprintf(stderr, "usage: ringwave-console\n");
        return 1;
    }
    const int console = open("/dev/tty0", O_RDWR | O_NOCTTY);
    if (console < 0) return fail("/dev/tty0");
    if (ioctl(console, VT_UNLOCKSWITCH, 1) < 0) return fail("unlocking terminal switching");
    vt_stat state{};
    if (ioctl(console, VT_GETSTATE, &state) < 0) return fail("the active terminal");
    char path[16];
    std::snprintf(path, sizeof path, "/dev/tty%u", static_cast<unsigned>(state.v_active));
    const int terminal = open(path, O_RDWR | O_NOCTTY);
    if (terminal < 0) return fail(path);
    if (ioctl(terminal, KDSETMODE, KD_TEXT) < 0) return fail("text mode");
    if (ioctl(terminal, KDSKBMODE, defaultKeyboardMode()) < 0) return fail("keyboard mode");
    close(terminal);
    close(console);
    return 0;
}
