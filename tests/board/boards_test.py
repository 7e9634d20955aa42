#!/usr/bin/python3
"""The boards' folders as the board tests and the measurements read them, checked before any
boot: every board loads, boots a kernel that a script of boards/ makes, names cases the board
test has and targets the measurements know, and its device-tree overlay applies to its
kernel's tree where that kernel's folder is given; the driver loads modules after those they
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
                frame_costs.target(text)
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
