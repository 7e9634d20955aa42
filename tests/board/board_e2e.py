#!/usr/bin/python3
"""End-to-end checks of the device binary on an emulated ARM board (boards/<name>/) with a
framebuffer and a keyboard. ringwave runs on SDL's framebuffer console driver as on a device,
started by the initramfs's /init (init.sh), which driver.py drives over the serial console and
qemu's monitor. On a panel that cannot switch to 320 x 200 (DRM) the picture shows in the
panel's middle, the rest black.
  board_e2e.py CASE BOARD PIECES RINGWAVE VT_STATE FB_MODES SNAPSHOT FRAME_CHECK [ARGS...]
CASE: one of CASES below; the tests run those the board's "cases" field names, the
measurements run measure (ARGS: PLUGIN SECONDS [WORDS...]; prints "insns COUNT rate RATE") and
profile (ARGS: PLUGIN_SPEC SECONDS OUTDIR [WORDS...]). PIECES: SCRIPT=FOLDER,... the folders
the scripts of boards/ print (boards/debian-image.sh's for every board, for busybox);
RINGWAVE: the device binary (static, ARM); VT_STATE: tests/support/vt_state.c built for the
board; FB_MODES: the fb.modes file the project ships; SNAPSHOT and FRAME_CHECK: the host
build's ringwave-snapshot and frame_check. RINGWAVE_BOARD_KEEP=DIR keeps a case's files
(screen dumps, serial log) in DIR/BOARD.CASE."""
import os
import shutil
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import driver  # noqa: E402
from steps import Steps  # noqa: E402


# --- the cases ---------------------------------------------------------------------------

def case_display(steps):
    """Each run of the display: how it ends (a key, or a signal from /init), its words."""
    steps.run.boot()
    steps.run_shown("key")
    steps.check_comparison_rejects(steps.path("screen.ppm"))
    steps.run_shown("TERM", "-hw")
    steps.run_shown("key", "-flip")
    steps.run_shown("TERM", "-fullscreen")


def case_lacks(steps):
    """A device that lacks something SDL needs: the message, and the console given back."""
    run = steps.run
    # No mouse: the board has none attached, but the nodes of the kernel's mouse multiplexer
    # (/dev/input/mice, /dev/psaux) open all the same, and SDL runs with them (the display
    # case). A device without them: SDL's video start fails unless SDL_NOMOUSE is set.
    run.boot()
    run.guest("do rm /dev/input/mice /dev/psaux")
    steps.run_failing("Couldn't initialize SDL: Unable to open mouse")
    steps.run_shown("key", "SDL_NOMOUSE=1")
    # Permissions: a user, not root, started outside the console (here from /init), needs
    # write access to the framebuffer, and then a virtual terminal of its own to read the
    # keyboard from: SDL looks for a free one only as root.
    user = ("as", "user", "SDL_VIDEODRIVER=fbcon", "SDL_NOMOUSE=1")
    steps.run_failing("Couldn't initialize SDL: No available video device", *user)
    run.guest("do chgrp video /dev/fb0 && chmod 660 /dev/fb0")
    steps.run_failing("Couldn't initialize SDL: Unable to open a console terminal", *user)
    # Started from a virtual terminal (its controlling terminal), the user's run works, on
    # that terminal, which stays the active one.
    steps.run_shown("key", "as", "user", "on", "3", *user[2:],
                    given_back="active 3; tty3 text unicode")
    run.guest("do chvt 1")
    # No 320 x 200 entry in /etc/fb.modes: SDL's own timing for the size asks for double
    # scan, which the LCD controller's driver refuses.
    run.guest("do rm /etc/fb.modes")
    steps.run_failing("Couldn't initialize video mode: .+", "SDL_NOMOUSE=1")


def case_turned(steps):
    """A panel mounted turned, which SDL turns the picture for (SDL_VIDEO_FBCON_ROTATION): each
    dump turned back is a frame of the run, the update caught in the panel's order, in the
    middle of the turned screen, black around it. A portrait panel is shown on turned a
    quarter either way; upside down it is too narrow for the picture: SDL's message. A
    landscape panel is shown on upside down."""
    steps.run.boot()
    (width, height) = steps.board["panel"]
    if width < height:
        steps.run_shown("key", "SDL_VIDEO_FBCON_ROTATION=CW")
        steps.check_comparison_rejects(steps.path("screen.ppm"))
        steps.run_shown("TERM", "SDL_VIDEO_FBCON_ROTATION=CCW", "-fullscreen")
        steps.run_failing("Couldn't initialize video mode: No video mode large enough for "
                          "320x200", "SDL_VIDEO_FBCON_ROTATION=UD")
    else:
        steps.run_shown("key", "SDL_VIDEO_FBCON_ROTATION=UD")
        steps.check_comparison_rejects(steps.path("screen.ppm"))


def case_turned8(steps):
    """A turned panel whose console runs at 8 bits a pixel with a palette, the one depth SDL
    turns where it cannot switch the mode: the console set to 8 bits at its own resolution,
    a run upside down ended by a key, one turned a quarter with -fullscreen ended by SIGTERM.
    The surround is palette entry 0, which ringwave recolours every frame: each dump turned
    back is a frame of the run in the panel's middle, entry 0 of the palette it shows in
    around it."""
    steps.run.boot()
    steps.set_depth(8)
    steps.run_shown("key", "SDL_VIDEO_FBCON_ROTATION=UD")
    steps.check_comparison_rejects(steps.path("screen.ppm"))
    steps.run_shown("TERM", "SDL_VIDEO_FBCON_ROTATION=CW", "-fullscreen")


def case_signals(steps):
    """The signals that end a run, sent while frames are drawn: a hang-up as SIGTERM (rate
    line, status 0); the others end ringwave by themselves once the console is given back;
    SIGKILL leaves it to the README's commands."""
    steps.run.boot()
    steps.run_shown("HUP")
    steps.run_shown("TERM")
    steps.run_signalled("USR1")
    steps.run_signalled("XCPU", "-hw")
    steps.run_killed()


def case_measure(steps, plugin, seconds, *words):
    """Not a test: the guest instructions of a whole boot with one run of SECONDS of the
    board's time, counted by qemu's instruction-counting plugin (PLUGIN), the board's clock
    tied to them (-icount shift=0: one nanosecond a guest instruction)."""
    steps.run.qemu_extra = ["-icount", "shift=0", "-plugin", plugin + ",inline=on",
                            "-d", "plugin", "-D", steps.path("plugin.log")]
    steps.measured_run(seconds, list(words))
    steps.run.power_off()
    with open(steps.path("plugin.log")) as f:
        counts = [line.split()[1] for line in f if line.startswith("insns:")]
    if not counts:
        steps.fail("no count from the plugin")
    print(f"insns {counts[0]} rate {steps.rate_text}")


def case_profile(steps, plugin_spec, seconds, outdir, *words):
    """Not a test: as measure, with PLUGIN_SPEC (a plugin and its arguments, e.g. the block
    profile writing into OUTDIR) in place of the counter. Leaves in OUTDIR the run's rate
    ("rate RATE") and the kernel's text symbols as the board has them (/proc/kallsyms: the
    kernel's and its modules', read after the run, on both boots alike)."""
    steps.run.qemu_extra = ["-icount", "shift=0", "-plugin", plugin_spec]
    steps.measured_run(seconds, list(words))
    steps.run.guest("do grep ' [tTwW] ' /proc/kallsyms", 120)
    with open(os.path.join(outdir, "kallsyms"), "w") as f:
        f.write("".join(line + "\n" for line in steps.run.answered("said")))
    steps.run.power_off()
    with open(os.path.join(outdir, "rate"), "w") as f:
        f.write(f"rate {steps.rate_text}\n")
    print(f"rate {steps.rate_text}")


CASES = {"display": case_display, "lacks": case_lacks, "signals": case_signals,
         "turned": case_turned, "turned8": case_turned8}
MEASUREMENTS = {"measure": case_measure, "profile": case_profile}


def main(argv):
    if len(argv) < 9 or argv[1] not in {**CASES, **MEASUREMENTS}:
        print(__doc__, file=sys.stderr)
        return 2
    (case, name, pieces) = argv[1:4]
    files = dict(zip(("ringwave", "vt_state", "fb_modes", "snapshot", "frame_check"),
                     argv[4:9]))
    board = driver.boards.load(name)
    pieces = dict(piece.split("=", 1) for piece in pieces.split(",") if "=" in piece)
    work = tempfile.mkdtemp()
    run = None
    try:
        run = driver.Run(board, pieces, files, work)
        steps = Steps(run, files)
        if case in CASES:
            CASES[case](steps)
            run.guest("off")
            print(f"ok: {case}")
        else:
            MEASUREMENTS[case](steps, *argv[9:])
    finally:
        keep = os.environ.get("RINGWAVE_BOARD_KEEP")
        if keep:
            shutil.copytree(work, os.path.join(keep, f"{name}.{case}"), dirs_exist_ok=True,
                            symlinks=True, ignore=shutil.ignore_patterns("*.sock"))
        if run:
            run.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
