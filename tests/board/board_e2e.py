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
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import driver
from driver import poll, ppm_size

HERE = os.path.dirname(os.path.abspath(__file__))
# Quarter turns clockwise that bring a picture shown turned (a board's "turned") upright.
UPRIGHT = {"cw": 3, "ccw": 1, "ud": 2}
REPORT_CHECKS = os.path.join(HERE, "..", "e2e", "report_checks.sh")


class Steps:
    """The steps the cases are made of, over one board's run (driver.Run)."""

    def __init__(self, run, files):
        self.run = run
        self.files = files
        self.work = run.work
        self.board = run.board

    def fail(self, message):
        driver.fail(message, self.work)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, lines):
        with open(self.path(name), "w") as f:
            f.write("".join(line + "\n" for line in lines))

    def start(self, words):
        """/init's start command: ringwave as a user starts it, the board's environment after
        the user and terminal (as USER, on VT) and before the words' own."""
        lead = 0
        while lead + 1 < len(words) and words[lead] in ("as", "on"):
            lead += 2
        self.run.guest(" ".join(["start"] + words[:lead] + self.board["environment"] +
                                words[lead:]))
        (self.seed, _, self.started) = self.run.answered("seed")[0].split()

    # --- the screen -----------------------------------------------------------------------

    def frame_check(self, *args, seconds=120):
        """frame_check's status (its output on standard output), or 2 after SECONDS."""
        try:
            done = subprocess.run([self.files["frame_check"], *map(str, args)],
                                  capture_output=True, text=True, timeout=seconds)
        except subprocess.TimeoutExpired:
            return (2, "")
        return (done.returncode, done.stdout.strip())

    def dump(self, name):
        """Dumps the screen into NAME in the scratch folder, turned back upright where the
        board shows the picture turned; returns the screen's size as the panel gave it."""
        self.run.screendump(self.path(name))
        size = ppm_size(self.path(name))
        if self.board["turned"]:
            driver.turn_ppm(self.path(name), UPRIGHT[self.board["turned"]])
        return size

    def shows_picture(self):
        """ringwave's picture is on the screen: 320 x 200 (the LCD controller switched to it)
        or in the middle of a larger panel, black around it, and not all one colour."""
        self.dump("probe.ppm")
        return self.frame_check("picture", self.path("probe.ppm"))[0] == 0

    def shows_console(self):
        """The text console is back: the screen is the panel's size again, and no picture."""
        return (self.dump("probe.ppm") == self.board["panel"] and
                self.frame_check("picture", self.path("probe.ppm"))[0] != 0)

    def most_frames(self):
        """Frames the run can have drawn: its rate times its whole time on the board's clock."""
        return int(self.rate * (float(self.ended) - float(self.started)) + 2)

    def check_shows_frame(self, dump):
        """The dump is a frame of the run: of its seed (the second /init read, or the next),
        every pixel of it (no pointer drawn over it), in the middle of the panel, black
        around it."""
        for seed in (int(self.seed), int(self.seed) + 1):
            (status, found) = self.frame_check("device", seed, self.most_frames(), dump,
                                               self.board["colours"])
            if status == 0:
                print(f"screen: frame {found}")
                return
        self.fail(f"no frame of seed {self.seed} or {int(self.seed) + 1} up to "
                  f"{self.most_frames()} is on the screen")

    def finds_none(self, seed, image):
        """frame_check finds no frame of SEED in IMAGE (status 1; 2 is an error)."""
        return self.frame_check("device", seed, self.most_frames(), image,
                                self.board["colours"])[0] == 1

    def check_comparison_rejects(self, dump):
        """The search tells pictures apart: the dump with one pixel changed, a frame of another
        run, the dump under the second before the run's (a seed it cannot have), and the
        picture one pixel off the panel's middle are all refused."""
        (width, height, pixels) = driver.read_ppm(dump)
        seeds = (int(self.seed), int(self.seed) + 1)
        # The pixel in the middle of the picture, each channel's top bit flipped.
        wrong = bytearray(pixels)
        middle = ((height // 2) * width + width // 2) * 3
        for byte in range(middle, middle + 3):
            wrong[byte] ^= 0x80
        driver.write_ppm(self.path("wrong-pixel.ppm"), width, height, wrong)
        for seed in seeds:
            if not self.finds_none(seed, self.path("wrong-pixel.ppm")):
                self.fail(f"a dump with a wrong pixel matches seed {seed}")
        # A frame of another run, in the middle of a black panel of the same size.
        if subprocess.run([self.files["snapshot"], str(int(self.seed) + 1000), "100",
                           self.path("other.bmp")], capture_output=True).returncode != 0:
            self.fail("ringwave-snapshot failed")
        if subprocess.run(["convert", "-size", f"{width}x{height}", "xc:black",
                           self.path("other.bmp"), "-gravity", "center", "-composite",
                           "-depth", "8", self.path("other.ppm")]).returncode != 0:
            self.fail("convert failed")
        for seed in seeds:
            if not self.finds_none(seed, self.path("other.ppm")):
                self.fail(f"a frame of another run matches seed {seed}")
        if not self.finds_none(int(self.seed) - 1, dump):
            self.fail(f"the dump also matches seed {int(self.seed) - 1}")
        # Every row one pixel to the right, its last pixel first.
        row = width * 3
        moved = b"".join(pixels[start + row - 3:start + row] + pixels[start:start + row - 3]
                         for start in range(0, height * row, row))
        driver.write_ppm(self.path("moved.ppm"), width, height, moved)
        for seed in seeds:
            if not self.finds_none(seed, self.path("moved.ppm")):
                self.fail(f"the picture one pixel to the right matches seed {seed}")
        print("refused: a wrong pixel, a frame of another run, another seed, the picture moved")

    # --- a run and its end ----------------------------------------------------------------

    def start_run(self, words):
        """Starts ringwave and waits for its picture to show: only then has SDL taken the
        keyboard (a key pressed before is lost)."""
        self.start(words)
        if not poll(90, self.shows_picture):
            self.fail("ringwave's picture never showed")

    def check_vt_taken(self):
        """While ringwave runs: its terminal in graphics mode, its keyboard in medium-raw."""
        self.run.guest("state")
        vt = self.run.answered("vt")[0]
        if "graphics mediumraw" not in vt:
            self.fail(f"ringwave's terminal is not in graphics and medium-raw mode: {vt}")

    def wait_end(self):
        """Waits for ringwave's end: its output in out and err, its status, the terminals'
        state (vt) and the framebuffer's mode (fb)."""
        self.run.guest("wait", 60)
        (self.status, _, self.ended) = self.run.answered("status")[0].split()
        self.write("out", self.run.answered("out"))
        self.write("err", self.run.answered("err"))
        self.vt = self.run.answered("vt")[0]
        self.fb = self.run.answered("fb")[0]

    def check_given_back(self, given_back=None):
        """The console given back: the terminals as before the run (or as GIVEN_BACK says),
        the framebuffer in its mode of before, and the text console on the screen."""
        expected = given_back or self.run.initial_vt
        if self.vt != expected:
            self.fail(f"the console was not given back: '{self.vt}', not '{expected}'")
        if self.fb != self.run.initial_fb:
            self.fail(f"the framebuffer's mode was not given back: '{self.fb}', not "
                      f"'{self.run.initial_fb}'")
        if not poll(10, self.shows_console):
            self.fail(f"the text console did not come back ({self.board['panel']})")

    def check_completed_run(self):
        """Status 0, nothing on standard error, the report with a positive rate."""
        if self.status != "0":
            self.fail(f"exit status {self.status}")
        if os.path.getsize(self.path("err")):
            self.fail("unexpected stderr")
        report = subprocess.run(["bash", "-c", '. "$1"; work=$2; check_report_lines', "-",
                                 REPORT_CHECKS, self.work], capture_output=True, text=True)
        if report.returncode != 0:
            sys.stderr.write(report.stderr)
            sys.exit(1)
        self.rate_text = report.stdout.strip()
        self.rate = float(self.rate_text)
        if not self.rate > 0:
            self.fail(f"rate not positive: {report.stdout.strip()}")

    def check_started_only(self, why):
        """Only the progress line on standard output, nothing on standard error."""
        with open(self.path("out")) as f:
            if f.read() != "Precalculating table...\n":
                self.fail(f"stdout {why}")
        if os.path.getsize(self.path("err")):
            self.fail("unexpected stderr")

    def run_shown(self, end, *words, given_back=None):
        """One run shown on the board: started with WORDS (environment and command-line
        words), a dump taken, ended by END (driver's end_run), then checked as completed."""
        self.start_run(list(words))
        time.sleep(1)  # frames, not the screen SDL cleared when it set the mode
        self.dump("screen.ppm")
        self.check_vt_taken()
        self.run.end_run(end)
        self.wait_end()
        self.check_given_back(given_back)
        self.check_completed_run()
        print(f"run '{' '.join(words)}' ended by {end}: rate {self.rate_text} frames/sec")
        self.check_shows_frame(self.path("screen.ppm"))

    def run_signalled(self, name, *words):
        """A run ended by SIGNAME whose default action ends the process: SDL gives the console
        back, then the signal ends ringwave: status 128 + its number, no rate line."""
        self.start_run(list(words))
        self.check_vt_taken()
        self.run.end_run(name)
        self.wait_end()
        self.check_given_back()
        number = signal.Signals["SIG" + name].value
        if self.status != str(128 + number):
            self.fail(f"exit status {self.status} after SIG{name}")
        self.check_started_only(f"after SIG{name}")
        print(f"run '{' '.join(words)}' ended by SIG{name}: status {self.status}, "
              "the console given back")

    # The console after SIGKILL, which no program can catch (the kernel's out-of-memory
    # killer sends it too): left as SDL set it, until the commands the README's device
    # section gives are run on the board, one after the other. They are exactly these, and
    # they give the console back as it was.
    CONSOLE_RECOVERY = ("ringwave-console", "chvt 1")

    def run_killed(self, *words):
        self.start_run(list(words))
        self.run.end_run("KILL")
        self.wait_end()
        if self.status != "137":
            self.fail(f"exit status {self.status} after SIGKILL")
        if "graphics mediumraw" not in self.vt:
            self.fail(f"SIGKILL left no terminal in graphics and medium-raw mode: {self.vt}")
        print(f"run '{' '.join(words)}' ended by SIGKILL: {self.vt}; {self.fb}")
        # The device's own tools alone cannot: SDL locked terminal switching, and the kernel
        # leaves no terminal that is in graphics mode; chvt waits for a switch that never
        # comes.
        self.run.guest("do busybox timeout 2 chvt 1 || echo refused")
        self.run.guest("state")
        if self.run.answered("vt")[0] != self.vt:
            self.fail(f"chvt switched after SIGKILL: {self.run.answered('vt')[0]}")
        for command in self.CONSOLE_RECOVERY:
            self.run.guest("do " + command)
            if self.run.answer:
                self.fail(f"'{command}' said: {' '.join(self.run.answered('said'))}")
        self.run.guest("state")
        self.vt = self.run.answered("vt")[0]
        self.fb = self.run.answered("fb")[0]
        self.check_given_back()
        print("; ".join(self.CONSOLE_RECOVERY) + f"; gave the console back: {self.vt}; {self.fb}")

    def run_failing(self, message, *words):
        """A run that fails at start-up: status 1, the progress line, one line on standard
        error that is MESSAGE (a regular expression), and the console given back."""
        self.start(list(words))
        self.wait_end()
        self.check_given_back()
        if self.status != "1":
            self.fail(f"exit status {self.status}")
        err = self.run.answered("err")
        if len(err) != 1:
            self.fail("one stderr line expected")
        if not re.fullmatch(message, err[0]):
            self.fail(f"stderr does not match '{message}'")
        with open(self.path("out")) as f:
            if f.read() != "Precalculating table...\n":
                self.fail("stdout")
        print(f"run '{' '.join(words)}' failed as expected: {err[0]}")

    def measured_run(self, seconds, words):
        """For measure and profile: boots (under the plugin given to the run), runs ringwave
        SECONDS of the board's time with WORDS, all on the board, and checks the run."""
        self.run.boot()
        # The board's seconds take minutes under a plugin on a busy host.
        self.run.guest(" ".join(["measure", seconds] + self.board["environment"] + words),
                       120 + 300 * float(seconds))
        self.status = self.run.answered("status")[0]
        self.write("out", self.run.answered("out"))
        self.write("err", self.run.answered("err"))
        self.check_completed_run()


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


CASES = {"display": case_display, "lacks": case_lacks, "signals": case_signals}
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
