#!/usr/bin/python3
"""The boards' folders as the board tests and the measurements read them, checked before any
boot: every board loads, boots a kernel that a script of boards/ makes, names cases the board
test has and targets the measurements know, and its device-tree overlay applies to its
kernel's tree where that kernel's folder is given; bench lines name their paths as the
measurements take them; the driver loads modules after those they
depend on, each once, and turns a picture shown turned back upright.
  boards_test.py [SCRIPT=FOLDER,...]
SCRIPT=FOLDER: the folders the scripts of boards/ print, as the board test takes them."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(HERE, "..", "..", "bench", "board"))
import board_e2e  # noqa: E402
import driver  # noqa: E402
import frame_costs  # noqa: E402
import steps  # noqa: E402

boards = driver.boards
pieces = dict(p.split("=", 1) for p in (sys.argv[1] if len(sys.argv) > 1 else "").split(",")
              if "=" in p)
failures = []
names = boards.names()
if not names:
    failures.append("no board folder in boards/")
for name in names:
    board = boards.load(name)
    script = os.path.join(os.path.dirname(boards.__file__), board["kernel_script"])
    if not os.access(script, os.X_OK):
        failures.append(f"{name}: no script boards/{board['kernel_script']}")
    unknown = [c for c in board["cases"] if c not in board_e2e.CASES]
    if unknown:
        failures.append(f"{name}: no case {', '.join(unknown)} in board_e2e.py")
    for (_, targets) in board["bench"]:
        for text in targets:
            try:
                frame_costs.target(text, [p[0] for p in boards.paths()])
            except SystemExit as error:
                failures.append(f"{name}: {error}")
    folder = pieces.get(board["kernel_script"])
    if folder and "devicetree" in board:
        with tempfile.TemporaryDirectory() as work:
            (dtb, error) = driver.device_tree(board, folder, work)
            if error:
                failures.append(f"{name}: {error}")
            elif subprocess.run(["fdtdump", dtb], capture_output=True).returncode != 0:
                failures.append(f"{name}: the tree it boots with is not one ({dtb})")
    print(f"{name}: {board['description']}")

# Bench lines of made-up boards: the paths they name, the run's environment before
# ringwave's words, a relative target's path a known one.
BOARD = ("description d\nmachine m\nkernel debian-image.sh vmlinuz\npanel 1 1\n"
         "colours palette\ncases\n")


def bench_boards(folder, lines):
    """Boards a and b in FOLDER, a with the bench LINES; their paths, or the exit's message."""
    for (name, text) in (("a", BOARD + lines), ("b", BOARD + "bench - at-most:1\n")):
        os.makedirs(os.path.join(folder, name), exist_ok=True)
        with open(os.path.join(folder, name, "board"), "w") as f:
            f.write(text)
    try:
        return [(p, words) for (p, _, words, _) in boards.paths(folder)]
    except SystemExit as error:
        return str(error)


with tempfile.TemporaryDirectory() as folder:
    found = bench_boards(folder, 'bench -hw\nbench "SDL_VIDEO_FBCON_ROTATION=CCW -hw" '
                                 'within:10%:b\nbench "X=Up_Down Y=1 -flip -hw"\n')
    expected = [("a-hw", ["-hw"]), ("a-ccw-hw", ["SDL_VIDEO_FBCON_ROTATION=CCW", "-hw"]),
                ("a-up_down-1-flip-hw", ["X=Up_Down", "Y=1", "-flip", "-hw"]), ("b", [])]
    if found != expected:
        failures.append(f"bench lines' paths: {found}")
    for (lines, message) in (('bench "-hw X=1"\n', "go before ringwave's words"),
                             ("bench -hw\nbench -hw\n", "two bench lines name")):
        found = bench_boards(folder, lines)
        if message not in found:
            failures.append(f"{lines!r}: {found}, not the message '{message}'")
    known = [p for (p, _) in expected]
    for text in ("within:10%:c", "within:10%", "within:ten%:b"):
        try:
            frame_costs.target(text, known)
            failures.append(f"the target {text} taken")
        except SystemExit as error:
            if ("no measured path c" in str(error)) != text.endswith(":c"):
                failures.append(f"the target {text}: {error}")

# Module files that name what they depend on, as the kernel's build writes it: file names
# with '-' where the names have '_'.
with tempfile.TemporaryDirectory() as folder:
    for (file, depends) in (("core", ""), ("helper_a", "core"), ("virtio-gpu", "helper_a,core"),
                            ("input", "core"), ("broken", "missing")):
        with open(os.path.join(folder, file + ".ko"), "wb") as f:
            f.write(b"\x7fELF...\0license=GPL\0depends=" + depends.encode() + b"\0name=x\0")
    (order, missing) = driver.load_order(folder, ["virtio_gpu", "input"])
    if (order, missing) != (["core.ko", "helper_a.ko", "virtio-gpu.ko", "input.ko"], None):
        failures.append(f"load order: {order}, missing {missing}")
    if driver.load_order(folder, ["input", "broken"])[1] != "missing":
        failures.append("a module that depends on a missing one loads")

# A picture shown turned, turned back: a quarter turn clockwise of a 3 x 2 picture, and each
# way SDL can show it turned, undone.
with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "picture.ppm")
    driver.write_ppm(path, 3, 2, b"aaabbbcccdddeeefff")
    driver.turn_ppm(path, 1)
    if driver.read_ppm(path) != (2, 3, b"dddaaaeeebbbfffccc"):
        failures.append(f"a quarter turn clockwise: {driver.read_ppm(path)}")
    for (turned, quarters) in (("CW", 1), ("CCW", 3), ("UD", 2)):
        driver.write_ppm(path, 3, 2, b"aaabbbcccdddeeefff")
        driver.turn_ppm(path, quarters)
        driver.turn_ppm(path, steps.UPRIGHT[turned])
        if driver.read_ppm(path) != (3, 2, b"aaabbbcccdddeeefff"):
            failures.append(f"a picture shown turned {turned}, turned back: "
                            f"{driver.read_ppm(path)}")

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
print(f"ok: {len(names)} boards")
