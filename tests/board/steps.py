"""The steps the board cases (board_e2e.py) are made of, over one booted board (driver.py): a
run of ringwave started, its picture dumped and found among the effect's frames, its end by a
key or a signal, its report, and the console given back."""
import os
import re
import signal
import subprocess
import sys
import time

import driver
from driver import poll, ppm_size

HERE = os.path.dirname(os.path.abspath(__file__))
# The variable that tells SDL's framebuffer console how the panel is mounted, and for each of
# its values that turn the picture, the quarter turns clockwise that bring a dump upright.
ROTATION = "SDL_VIDEO_FBCON_ROTATION="
UPRIGHT = {"CW": 3, "CCW": 1, "UD": 2}
REPORT_CHECKS = os.path.join(HERE, "..", "e2e", "report_checks.sh")


class Steps:
    """The steps the cases are made of, over one board's run (driver.Run)."""

    def __init__(self, run, files):
        self.run = run
        self.files = files
        self.work = run.work
        self.board = run.board
        self.turn = "NONE"  # how the run's picture shows on the panel (frame_check's TURN)

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
        self.turn = "NONE"
        for word in self.board["environment"] + words[lead:]:
            if word.startswith(ROTATION) and word[len(ROTATION):] in UPRIGHT:
                self.turn = word[len(ROTATION):]
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

    def dump(self, name, upright=True):
        """Dumps the screen into NAME in the scratch folder, turned back upright (unless
        UPRIGHT is false) where SDL turns the run's picture; returns the screen's size as the
        panel gave it."""
        self.run.screendump(self.path(name))
        size = ppm_size(self.path(name))
        if upright and self.turn in UPRIGHT:
            driver.turn_ppm(self.path(name), UPRIGHT[self.turn])
        return size

    def shows_picture(self):
        """ringwave's picture is on the screen: 320 x 200 (the LCD controller switched to it)
        or in the middle of a larger panel, black around it (on a palettised panel one
        colour, palette entry 0's), and not all one colour."""
        self.dump("probe.ppm")
        return self.frame_check("picture", self.path("probe.ppm"),
                                self.board["colours"])[0] == 0

    def shows_console(self):
        """The text console is back: the screen is the panel's size again, and no picture."""
        return (self.dump("probe.ppm", upright=False) == self.board["panel"] and
                self.frame_check("picture", self.path("probe.ppm"),
                                 self.board["colours"])[0] != 0)

    def most_frames(self):
        """Frames the run can have drawn: its rate times its whole time on the board's clock."""
        return int(self.rate * (float(self.ended) - float(self.started)) + 2)

    def check_shows_frame(self, dump):
        """The dump is a frame of the run: of its seed (the second /init read, or the next),
        every pixel of it (no pointer drawn over it), in the middle of the panel, black
        around it (on a palettised panel palette entry 0 of the palette it shows in)."""
        for seed in (int(self.seed), int(self.seed) + 1):
            (status, found) = self.frame_check("device", seed, self.most_frames(), dump,
                                               self.board["colours"], self.turn)
            if status == 0:
                print(f"screen: frame {found}")
                return
        self.fail(f"no frame of seed {self.seed} or {int(self.seed) + 1} up to "
                  f"{self.most_frames()} is on the screen")

    def finds_none(self, seed, image):
        """frame_check finds no frame of SEED in IMAGE (status 1; 2 is an error)."""
        return self.frame_check("device", seed, self.most_frames(), image,
                                self.board["colours"], self.turn)[0] == 1

    def check_comparison_rejects(self, dump):
        """The search tells pictures apart: the dump with one pixel changed, a frame of another
        run, the dump under the second before the run's (a seed it cannot have), and the
        picture one pixel off the panel's middle are all refused; and where the panel is
        larger than the picture, a wrong surround (check_surround_rejects)."""
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
        # A frame of another run, in the middle of a panel of the same size and surround.
        if subprocess.run([self.files["snapshot"], str(int(self.seed) + 1000), "100",
                           self.path("other.bmp")], capture_output=True).returncode != 0:
            self.fail("ringwave-snapshot failed")
        surround = "rgb({},{},{})".format(*pixels[0:3])
        if subprocess.run(["convert", "-size", f"{width}x{height}", "xc:" + surround,
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
        if (width, height) != (320, 200):
            self.check_surround_rejects(dump)

    def check_surround_rejects(self, dump):
        """Around the picture only the colour SDL's clearing shows is accepted: the dump with
        one pixel of the surround changed, and with the surround all black where it is not
        (a palettised panel, whose entry 0 is one of ringwave's colours), are refused."""
        (width, height, pixels) = driver.read_ppm(dump)
        seeds = (int(self.seed), int(self.seed) + 1)
        # The panel's top left pixel, each channel's top bit flipped.
        corner = bytearray(pixels)
        for byte in range(3):
            corner[byte] ^= 0x80
        driver.write_ppm(self.path("wrong-surround.ppm"), width, height, corner)
        wrong = {"a surround pixel changed": "wrong-surround.ppm"}
        if pixels[0:3] != b"\0\0\0":
            left = (width - 320) // 2
            top = (height - 200) // 2
            row = width * 3
            black = bytearray(len(pixels))
            for y in range(top, top + 200):
                start = y * row + left * 3
                black[start:start + 320 * 3] = pixels[start:start + 320 * 3]
            driver.write_ppm(self.path("black-surround.ppm"), width, height, black)
            wrong["a black surround"] = "black-surround.ppm"
        for (what, name) in wrong.items():
            for seed in seeds:
                if not self.finds_none(seed, self.path(name)):
                    self.fail(f"the dump with {what} matches seed {seed}")
        print("refused: " + ", ".join(wrong))

    def set_depth(self, bits):
        """Sets the framebuffer to BITS a pixel, its resolution kept (vt_state's setter), as a
        device whose console runs at that depth: the mode every later run must give back."""
        self.run.guest(f"do vt_state fb {bits}")
        said = self.run.answered("said")
        if len(said) != 1 or not said[0].endswith(f" {bits} bpp"):
            self.fail(f"the framebuffer did not take {bits} bits a pixel: {said}")
        self.run.guest("state")
        if self.run.answered("fb") != said:
            self.fail(f"the framebuffer's mode is {self.run.answered('fb')}, not {said}")
        print(f"framebuffer set to {said[0]}")
        self.run.initial_fb = said[0]

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

    def console_settled(self):
        """Asks the board for its terminals and framebuffer; whether they are as before the run."""
        self.run.guest("state")
        self.vt = self.run.answered("vt")[0]
        self.fb = self.run.answered("fb")[0]
        return self.vt == self.run.initial_vt

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
        # The killed run's terminal stays counted as open until the kernel has released it,
        # in a work queue of its own after the last close: on a busy host, a moment later.
        poll(5, self.console_settled)
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
