#!/usr/bin/python3
"""The emulated boards, one folder each: boards/<name>/board says what the board is, one
"key value..." line a field (an indented line goes on with the field above; '#' starts a
comment; fields that take a list split it at spaces):
  description  what the board is, in a few words (the measurements' tables show it)
  machine      qemu-system-arm's machine and devices (its command line's words)
  kernel       the script in boards/ that prints the folder of the board's kernel (a shared
               piece, cached), and the kernel's file in that folder
  devicetree   the device tree in that folder the board boots with; absent: qemu's own. A
               file devicetree.dtso beside board (an overlay, paths as targets) changes it.
  modules      the kernel's modules to load (with what they depend on, found in the folder's
               modules/), in this order
  cmdline      words the kernel's command line has besides the serial console (optional)
  panel        the screen's size with the text console, "W H" (as qemu dumps it)
  colours      how the screen shows a frame's colours: palette, rgb565 or xrgb8888
  environment  VAR=VALUE words every run of ringwave on the board starts with (optional);
               with SDL_VIDEO_FBCON_ROTATION (a panel mounted turned) the checks turn each
               screen dump back upright, as they do for a run whose own words set it
  cases        the board test's cases that run on the board (tests/board/board_e2e.py)
  bench        a measured path (bench/board): the run's words as one field ("-": none;
               quoted if more than one), VAR=VALUE words (the run's environment) before
               ringwave's own, then the targets for its whole frame, reported beside the
               figures, never enforced: no-dearer (no dearer than the build before),
               at-most:N, fewer:P% (P% fewer than before), within:P%:PATH (at most P% more
               than the known path PATH in the same build). One line a path; the path is the
               board's name with "-" and the value lowercased appended for each VAR=VALUE word
               and each other word as it is: bench "SDL_VIDEO_FBCON_ROTATION=CW -hw" on the
               board virt is the path virt-cw-hw.
Python's standard library only. As a command, for the scripts that are not Python:
  boards.py list                the boards: "NAME KERNEL_SCRIPT CASE..." a line
  boards.py modules SCRIPT      the modules of the boards whose kernel SCRIPT makes
  boards.py devicetrees SCRIPT  their device trees (paths in the folder SCRIPT prints)
  boards.py kernel NAME         the script whose folder holds the board's kernel
  boards.py paths               the measured paths: "PATH NAME WORDS..." a line"""
import os
import re
import shlex
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
LIST_FIELDS = {"machine", "modules", "cmdline", "environment", "cases", "kernel"}
REQUIRED = ("description", "machine", "kernel", "panel", "colours", "cases")
COLOURS = ("palette", "rgb565", "xrgb8888")
# A word of a run's environment, VAR=VALUE, as init.sh tells it from ringwave's words.
ENVIRONMENT_WORD = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*=")


def names(root=HERE):
    """Every board: the folders of ROOT that hold a board file, sorted."""
    return sorted(n for n in os.listdir(root) if os.path.isfile(os.path.join(root, n, "board")))


def path_name(name, words):
    """The measured path of the board NAME with the run's WORDS (see bench above)."""
    return name + "".join("-" + word.split("=", 1)[1].lower() if ENVIRONMENT_WORD.match(word)
                          else word for word in words)


def paths(root=HERE):
    """Every measured path, in the boards' order: [(path, board, words, targets)]. Exits with
    a message where two bench lines name the same path."""
    found = []
    for name in names(root):
        board = load(name, root)
        for (words, targets) in board["bench"]:
            path = path_name(name, words)
            if any(path == p for (p, _, _, _) in found):
                sys.exit(f"two bench lines name the measured path {path}")
            found.append((path, board, words, targets))
    return found


def load(name, root=HERE):
    """The board NAME (a folder of ROOT) as a dict of its fields (lists split, panel as
    (w, h)), with its name, folder, kernel_script, kernel_file, overlay (path or None) and
    bench [(words, targets)]. Exits with a message for an unknown board or a malformed file."""
    folder = os.path.join(root, name)
    path = os.path.join(folder, "board")
    if not os.path.isfile(path):
        sys.exit(f"no board '{name}' (known: {' '.join(names(root))})")
    board = {"name": name, "folder": folder, "environment": [], "modules": [], "cmdline": [],
             "bench": []}
    fields = []  # (line number, key, values): an indented line continues the field above
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            words = shlex.split(line, comments=True)
            if words and line[0].isspace() and fields:
                fields[-1][2].extend(words)
            elif words:
                fields.append((number, words[0], words[1:]))
    for (number, key, values) in fields:
            if key == "bench" and values:
                words_ = [] if values[0] == "-" else values[0].split()
                environment = [ENVIRONMENT_WORD.match(word) is not None for word in words_]
                if environment != sorted(environment, reverse=True):
                    sys.exit(f"{path}:{number}: bench: the VAR=VALUE words (the run's "
                             f"environment) go before ringwave's words")
                board["bench"].append((words_, values[1:]))
            elif key in LIST_FIELDS:
                board[key] = values
            elif key in ("description", "devicetree", "colours", "panel") and values:
                board[key] = " ".join(values)
            else:
                sys.exit(f"{path}:{number}: unknown field '{key}', or no value")
    missing = [key for key in REQUIRED if key not in board]
    if missing:
        sys.exit(f"{path}: no {', '.join(missing)}")
    if len(board["kernel"]) != 2 or board["colours"] not in COLOURS:
        sys.exit(f"{path}: kernel is SCRIPT FILE, colours one of {', '.join(COLOURS)}")
    (board["kernel_script"], board["kernel_file"]) = board["kernel"]
    (w, h) = board["panel"].split()
    board["panel"] = (int(w), int(h))
    overlay = os.path.join(folder, "devicetree.dtso")
    board["overlay"] = overlay if os.path.isfile(overlay) else None
    if board["overlay"] and "devicetree" not in board:
        sys.exit(f"{path}: devicetree.dtso changes no device tree (no devicetree field)")
    return board


def main(argv):
    if argv[1:] == ["list"]:
        for name in names():
            board = load(name)
            print(name, board["kernel_script"], *board["cases"])
    elif len(argv) == 3 and argv[1] == "modules":
        for name in names():
            board = load(name)
            if board["kernel_script"] == argv[2]:
                print(*board["modules"])
    elif len(argv) == 3 and argv[1] == "devicetrees":
        for name in names():
            board = load(name)
            if board["kernel_script"] == argv[2] and "devicetree" in board:
                print(board["devicetree"])
    elif len(argv) == 3 and argv[1] == "kernel":
        print(load(argv[2])["kernel_script"])
    elif argv[1:] == ["paths"]:
        for (path, board, words, _) in paths():
            print(path, board["name"], *words)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
