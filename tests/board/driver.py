"""The board driver: boots one emulated board (boards/<name>/, read by boards/boards.py) under
qemu-system-arm with an initramfs that holds busybox, /init (init.sh, beside this file) and the
device binary, and drives it: commands to /init over the serial console, keys and screen dumps
through qemu's monitor (QMP), a run of ringwave ended by a key or a signal. Every wait has a
bound; a failure prints what went wrong with the end of the serial console's output and exits
with status 1. Python's standard library only."""
import codecs
import ctypes
import gzip
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "boards"))
import boards  # noqa: E402

# The board's wall clock, pinned: a run's seed is this second, or one of the next few (boot).
BOARD_CLOCK = "2026-01-01T00:00:00"
BOOT_SECONDS = 90
REPLY_SECONDS = 30
# The framebuffer's depth on a panel whose colours are one fixed format (boards.py's colours):
# another depth is another driver on the controller than the one the board is for.
DEPTHS = {"rgb565": 16, "xrgb8888": 32}
# The busybox applets /init and the cases use.
APPLETS = ("sh mount insmod cat chgrp chmod chvt cut date env grep kill openvt reboot rm sed "
           "seq sleep su").split()


def fail(message, work=None):
    """Prints FAIL: MESSAGE, then the run's output and error and the console's last lines
    found in WORK, and exits with status 1."""
    print(f"FAIL: {message}", file=sys.stderr)
    for (name, prefix) in (("out", "stdout"), ("err", "stderr")):
        path = work and os.path.join(work, name)
        if path and os.path.isfile(path):
            for line in open(path, errors="replace").read().splitlines():
                print(f"  {prefix}: {line}", file=sys.stderr)
    log = work and os.path.join(work, "serial.log")
    if log and os.path.isfile(log):
        for line in open(log, errors="replace").read().replace("\r", "").splitlines()[-40:]:
            print(f"  serial: {line}", file=sys.stderr)
    sys.exit(1)


def module_depends(path):
    """The modules the module file PATH names in its "depends=" entry."""
    with open(path, "rb") as f:
        found = re.search(rb"(?:^|\0)depends=([^\0]*)\0", f.read())
    return [d for d in found.group(1).decode().split(",") if d] if found else []


def load_order(folder, names):
    """The module files in FOLDER that load NAMES, each after those it depends on, each once;
    and the first name no file in FOLDER is (None when every one is there)."""
    order = []

    def add(name):
        files = [c + ".ko" for c in (name, name.replace("_", "-"), name.replace("-", "_"))
                 if os.path.isfile(os.path.join(folder, c + ".ko"))]
        if not files:
            return name
        for dep in module_depends(os.path.join(folder, files[0])):
            missing = add(dep)
            if missing:
                return missing
        if files[0] not in order:
            order.append(files[0])
        return None
    for name in names:
        missing = add(name)
        if missing:
            return (order, missing)
    return (order, None)


def device_tree(board, kernel_dir, work):
    """The device tree BOARD boots with: None (qemu's own), its kernel folder's, or that with
    the board's overlay applied (written into WORK); and an error message, or None."""
    if "devicetree" not in board:
        return (None, None)
    base = os.path.join(kernel_dir, board["devicetree"])
    if not os.path.isfile(base):
        return (None, f"no device tree {base}")
    if not board["overlay"]:
        return (base, None)
    overlay = os.path.join(work, "overlay.dtbo")
    dtb = os.path.join(work, "board.dtb")
    for command in (["dtc", "-q", "-I", "dts", "-O", "dtb", "-o", overlay, board["overlay"]],
                    ["fdtoverlay", "-i", base, "-o", dtb, overlay]):
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            return (None, f"{' '.join(command)}: {done.stderr.strip()}")
    return (dtb, None)


def _end_with_parent():
    """In a child: the kernel kills it when the driver ends, however it ends."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def read_ppm(path):
    """A binary PPM file as qemu writes it (no comments): (width, height, the pixels' bytes)."""
    with open(path, "rb") as f:
        data = f.read()
    header = 0
    for _ in range(3):
        header = data.index(b"\n", header) + 1
    (width, height) = map(int, data[:header].split()[1:3])
    return (width, height, data[header:])


def write_ppm(path, width, height, pixels):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (width, height) + pixels)


def ppm_size(path):
    """(width, height) of a binary PPM file."""
    with open(path, "rb") as f:
        fields = f.read(64).split()
    return (int(fields[1]), int(fields[2]))


def turn_ppm(path, quarters):
    """Turns the picture of a binary PPM file QUARTERS quarter turns clockwise, in place."""
    (width, height, data) = read_ppm(path)
    pixels = [data[i:i + 3] for i in range(0, width * height * 3, 3)]
    for _ in range(quarters % 4):
        # Row r of the turned picture is column r of the picture, read from the bottom up.
        pixels = [pixels[(height - 1 - y) * width + x] for x in range(width)
                  for y in range(height)]
        (width, height) = (height, width)
    write_ppm(path, width, height, b"".join(pixels))


class Console:
    """The serial console: all the board has printed, in memory and in serial.log."""

    def __init__(self, connection, log_path):
        self.connection = connection
        self.text = ""
        self.changed = threading.Condition()
        self.log = open(log_path, "w", encoding="utf-8")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        decoder = codecs.getincrementaldecoder("utf-8")("replace")
        while True:
            try:
                data = self.connection.recv(4096)
            except OSError:
                data = b""
            text = decoder.decode(data, final=not data).replace("\r", "")
            with self.changed:
                self.text += text
                self.log.write(text)
                self.log.flush()
                self.changed.notify_all()
            if not data:
                return

    def wait_for(self, pattern, seconds):
        """The first match of PATTERN (a multi-line regular expression) in the output, waiting
        up to SECONDS for it; None if it never came. A pattern that ends with the line's end
        matches whole lines only ("$" would match a line half received)."""
        regex = re.compile(pattern, re.M)
        with self.changed:
            self.changed.wait_for(lambda: regex.search(self.text), seconds)
            return regex.search(self.text)

    def send(self, line):
        self.connection.sendall((line + "\n").encode())


class Monitor:
    """qemu's monitor (QMP): one command at a time, its reply; events are skipped."""

    def __init__(self, connection):
        connection.settimeout(REPLY_SECONDS)
        self.file = connection.makefile("rw", encoding="utf-8", newline="\n")

    def reply(self):
        """The next reply (a dict), or None after REPLY_SECONDS without one."""
        try:
            for line in self.file:
                message = json.loads(line)
                if "event" not in message:
                    return message
        except (OSError, ValueError):
            pass
        return None


class Run:
    """A booted board: qemu, its console and monitor, and the scratch folder WORK."""

    def __init__(self, board, pieces, files, work, qemu_extra=()):
        """BOARD from boards.load; PIECES: {kernel script: the folder it printed}; FILES:
        ringwave, vt_state, fb_modes (paths)."""
        self.board = board
        self.work = work
        self.qemu = None
        self.seq = 0
        self.answer = []
        kernel_dir = pieces.get(board["kernel_script"])
        image = pieces.get("debian-image.sh")  # busybox for every board
        if not kernel_dir or not image:
            fail(f"{board['name']} needs the folders boards/{board['kernel_script']} and "
                 "boards/debian-image.sh print")
        self.kernel = os.path.join(kernel_dir, board["kernel_file"])
        (self.dtb, error) = device_tree(board, kernel_dir, work)
        if error:
            fail(error)
        self.initramfs = self._initramfs(image, kernel_dir, files)
        self.qemu_extra = list(qemu_extra)

    def fail(self, message):
        fail(message, self.work)

    # --- what the board boots with -----------------------------------------------------

    def _initramfs(self, image, kernel_dir, files):
        """busybox, /init, the device binary and what a device would have besides:
        /etc/fb.modes, the board's modules, named in load order in /lib/modules/load."""
        root = os.path.join(self.work, "root")
        for folder in ("bin", "dev", "etc", "lib/modules", "proc", "sys", "tmp"):
            os.makedirs(os.path.join(root, folder))
        shutil.copy(os.path.join(image, "busybox"), os.path.join(root, "bin/busybox"))
        for applet in APPLETS:
            os.symlink("busybox", os.path.join(root, "bin", applet))
        shutil.copy(os.path.join(HERE, "init.sh"), os.path.join(root, "init"))
        shutil.copy(files["ringwave"], os.path.join(root, "bin/ringwave"))
        # The console's rescue after a SIGKILL, from the same build (where it has one).
        rescue = os.path.join(os.path.dirname(files["ringwave"]), "ringwave-console")
        if os.path.isfile(rescue):
            shutil.copy(rescue, os.path.join(root, "bin/ringwave-console"))
        shutil.copy(files["vt_state"], os.path.join(root, "bin/vt_state"))
        for program in ("init", "bin/ringwave", "bin/ringwave-console", "bin/vt_state"):
            if os.path.exists(os.path.join(root, program)):
                os.chmod(os.path.join(root, program), 0o755)
        shutil.copy(files["fb_modes"], os.path.join(root, "etc/fb.modes"))
        with open(os.path.join(root, "etc/passwd"), "w") as f:
            f.write("root:x:0:0::/:/bin/sh\nuser:x:1000:1000::/tmp:/bin/sh\n")
        with open(os.path.join(root, "etc/group"), "w") as f:
            f.write("root:x:0:\nvideo:x:44:user\nuser:x:1000:\n")
        modules = os.path.join(kernel_dir, "modules")
        (order, missing) = load_order(modules, self.board["modules"])
        if missing:
            fail(f"no module {missing} in {modules}")
        for module in order:
            shutil.copy(os.path.join(modules, module), os.path.join(root, "lib/modules"))
        with open(os.path.join(root, "lib/modules/load"), "w") as f:
            f.write("".join(m + "\n" for m in order))
        archive = subprocess.run("find . | cpio -o -H newc --quiet", shell=True, cwd=root,
                                 capture_output=True)
        if archive.returncode != 0:
            fail("cannot make the initramfs: " + archive.stderr.decode(errors="replace"))
        path = os.path.join(self.work, "initramfs.gz")
        with open(path, "wb") as f:
            f.write(gzip.compress(archive.stdout, 1))
        return path

    # --- qemu -----------------------------------------------------------------------------

    def boot(self):
        """Starts qemu, its serial console and monitor sockets ours, and waits for /init's
        first lines: the terminals' and the framebuffer's state before any run."""
        listeners = {}
        for name in ("con", "qmp"):
            listeners[name] = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            listeners[name].bind(os.path.join(self.work, name + ".sock"))
            listeners[name].listen(1)
            listeners[name].settimeout(REPLY_SECONDS)
        command = (["qemu-system-arm"] + self.board["machine"] +
                   ["-nodefaults", "-display", "none", "-kernel", self.kernel] +
                   (["-dtb", self.dtb] if self.dtb else []) +
                   ["-initrd", self.initramfs,
                    "-append", " ".join(["console=ttyAMA0", "quiet"] + self.board["cmdline"]),
                    "-no-reboot", "-rtc", "base=" + BOARD_CLOCK,
                    "-chardev", f"socket,id=con,path={self.work}/con.sock",
                    "-serial", "chardev:con",
                    "-chardev", f"socket,id=qmp,path={self.work}/qmp.sock",
                    "-mon", "chardev=qmp,mode=control"] + self.qemu_extra)
        with open(os.path.join(self.work, "qemu.log"), "w") as log:
            self.qemu = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT,
                                         env=dict(os.environ, QEMU_AUDIO_DRV="none"),
                                         preexec_fn=_end_with_parent)
        try:
            self.console = Console(listeners["con"].accept()[0],
                                   os.path.join(self.work, "serial.log"))
            self.monitor = Monitor(listeners["qmp"].accept()[0])
        except OSError:
            with open(os.path.join(self.work, "qemu.log")) as f:
                self.fail("qemu did not start: " + f.read().strip())
        if self.monitor.reply() is None:
            self.fail("no QMP greeting")
        self.qmp("qmp_capabilities")
        ready = self.console.wait_for(r"^@init ready (.*)\n", BOOT_SECONDS)
        if not ready:
            self.fail("the board did not boot")
        self.initial_vt = ready.group(1)
        self.initial_fb = self.console.wait_for(r"^@init fb (.*)\n", 0).group(1)
        depth = DEPTHS.get(self.board["colours"])
        if depth and not self.initial_fb.endswith(f" {depth} bpp"):
            self.fail(f"the framebuffer is '{self.initial_fb}', not the {depth} bpp of "
                      f"{self.board['colours']}")

    def qmp(self, command, **arguments):
        """Runs a monitor command; fails on an error or no reply."""
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        self.monitor.file.write(json.dumps(message) + "\n")
        self.monitor.file.flush()
        reply = self.monitor.reply()
        if reply is None:
            self.fail(f"no reply from the monitor to {message}")
        if "error" in reply:
            self.fail(f"monitor: {message}: {reply}")
        return reply

    def close(self):
        """Kills qemu if it still runs."""
        if self.qemu and self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()

    # --- /init's commands -----------------------------------------------------------------

    def guest(self, command, seconds=30):
        """Runs one /init command (init.sh) and waits up to SECONDS for its end; its answer
        lines, without the "@SEQ " prefix, are in self.answer."""
        self.seq += 1
        self.console.send(f"{self.seq} {command}")
        if not self.console.wait_for(rf"^@{self.seq} done\n", seconds):
            self.fail(f"the board did not finish '{command}'")
        prefix = f"@{self.seq} "
        self.answer = [line[len(prefix):] for line in self.console.text.split("\n")
                       if line.startswith(prefix) and line != prefix + "done"]

    def answered(self, key):
        """The answer lines that begin with KEY, without it."""
        return [line[len(key) + 1:] for line in self.answer if line.startswith(key + " ")]

    def power_off(self):
        """Powers the board off and waits for qemu's end."""
        self.guest("off")
        try:
            self.qemu.wait(30)
        except subprocess.TimeoutExpired:
            self.fail("the board did not power off")

    # --- the screen and the keyboard ------------------------------------------------------

    def screendump(self, path):
        """Saves the screen as a PPM file, the board paused meanwhile: qemu reads the
        framebuffer into its display row by row, and a busy host can stop that reading for
        longer than the board takes for a frame or two, so that the rows of a dump taken
        while the board runs can come from frames in any order. Paused, the dump is the
        framebuffer at one instant."""
        if os.path.exists(path):
            os.remove(path)
        self.qmp("stop")
        self.qmp("screendump", filename=path)
        self.qmp("cont")

    def press_key(self):
        self.qmp("send-key", keys=[{"type": "qcode", "data": "spc"}])

    def end_run(self, how):
        """Ends the run on the screen: HOW is "key" (a key pressed on the board's keyboard) or
        a signal's name (TERM, HUP, ...) that /init sends ringwave."""
        if how == "key":
            self.press_key()
        else:
            self.guest("kill " + how)


def poll(seconds, condition):
    """Whether CONDITION() comes true within SECONDS, asked every tenth of a second."""
    end = time.monotonic() + seconds
    while True:
        if condition():
            return True
        if time.monotonic() > end:
            return False
        time.sleep(0.1)
