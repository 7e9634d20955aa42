#!/usr/bin/python3
"""The per-frame breakdown of bench/board/frame_costs.py on the device binary's own link: two
made-up boot profiles (a few blocks at the addresses binutils' nm gives for known functions),
split into shares per frame, against sums worked out by hand.
  frame_costs_test.py RINGWAVE NM
RINGWAVE: the static device binary, its linker map beside it; NM: the target's nm."""
import json
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(here, "..", "..", "bench", "board"))
import frame_costs  # noqa: E402

ringwave, nm = sys.argv[1], sys.argv[2]
failures = []


def check(what, expected, actual):
    if expected != actual:
        failures.append(f"{what}: expected {expected}, got {actual}")


# Addresses of functions, as binutils reads them (not the script's own ELF reader).
symbols = {}
for line in subprocess.run([nm, "--defined-only", ringwave], capture_output=True, text=True,
                           check=True).stdout.splitlines():
    (address, kind, name) = line.split(None, 2)
    if kind in "tTW":
        symbols.setdefault(name, int(address, 16))
want = ["_Z18composeLayersWordsRK9RingWordsPK11LayerOriginPhi", "composeRows_neon",
        "SDL_BlitCopy", "SDL_SetColors", "SDL_FindColor", "__aeabi_dadd", "__aeabi_uidiv",
        "__kernel_sin", "memcpy", "_memcpy", "malloc", "SDL_FB_Turn8to32_ARM", "FB_turn8to32",
        "FB_UpdateShadowRects"]
missing = [name for name in want if name not in symbols]
if missing:
    sys.exit(f"FAIL: the device binary has no {', '.join(missing)}")
with open(ringwave, "rb") as f:
    elf = f.read()
# File offsets of the text: the first loaded segment maps the file from offset 0.
base = min(address for name, address in symbols.items() if name == "_start") & ~0xFFF


def block(name, insns, execs=0, offset=0, size=16, wrong=False):
    """A profile line of the block at NAME + OFFSET, its bytes the binary's (or not)."""
    address = symbols[name] + offset
    code = bytearray(elf[address - base:address - base + size])
    if wrong:
        code[0] ^= 0xFF
    return (f"block {address:x} {size} {frame_costs.fnv1a(bytes(code)):016x} {insns} {execs}",
            (address, size, frame_costs.fnv1a(bytes(code))))


kernel_lines = "c0300000 T _stext\nc0a00000 t clcdfb_setcolreg\nbf000000 t amba_kmi_write\t[ambakmi]\n"


def boot(directory, frames, scale):
    """A boot whose ringwave drew FRAMES frames; SCALE: the per-frame work's multiplier."""
    os.makedirs(directory)
    lines = []
    lines.append(block("SDL_SetColors", 10 * frames, execs=frames)[0])
    lines.append(block("_Z18composeLayersWordsRK9RingWordsPK11LayerOriginPhi", 1000 * scale)[0])
    # The NEON loop, in a section of its own (hwcap_neon).
    lines.append(block("composeRows_neon", 100 * scale)[0])
    (blit, blit_key) = block("SDL_BlitCopy", 20 * scale)
    lines.append(blit)
    lines.append(block("SDL_FindColor", 7 * scale)[0])
    # SDL's turning: the loop and its rows in C; the update that calls them is SDL's rest.
    lines.append(block("SDL_FB_Turn8to32_ARM", 50 * scale)[0])
    lines.append(block("FB_turn8to32", 5 * scale)[0])
    lines.append(block("FB_UpdateShadowRects", 2 * scale)[0])
    lines.append(block("__aeabi_dadd", 30 * scale)[0])
    lines.append(block("__aeabi_uidiv", 4 * scale)[0])
    lines.append(block("__kernel_sin", 6 * scale)[0])
    lines.append(block("malloc", 5000)[0])  # start-up only: the same in both boots
    # memcpy: 500 a frame, 300 of them called from SDL's copy, 200 from elsewhere.
    lines.append(block("memcpy", 100 * scale, size=4)[0])
    lines.append(block("_memcpy", 400 * scale)[0])
    (other, other_key) = block("malloc", 1, offset=16)
    lines.append(other)
    lines.append(f"call {blit_key[0]:x} {blit_key[1]} {blit_key[2]:016x} {symbols['memcpy']:x} "
                 f"{300 * scale} {scale}")
    lines.append(f"call {other_key[0]:x} {other_key[1]} {other_key[2]:016x} "
                 f"{symbols['memcpy']:x} {200 * scale} {scale}")
    # Another process's code at the program's addresses (its bytes differ).
    lines.append(block("_Z18composeLayersWordsRK9RingWordsPK11LayerOriginPhi", 3 * scale,
                       offset=32, wrong=True)[0])
    # The kernel: its own symbol, a module's, and one block that is the same in both boots.
    lines.append(f"block c0a00010 24 1234 {40 * scale} {scale}")
    lines.append(f"block bf000044 8 5678 {8 * scale} {scale}")
    lines.append("block c0300000 8 9abc 777 1")
    with open(os.path.join(directory, "profile"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(directory, "kallsyms"), "w") as f:
        f.write(kernel_lines)
    with open(os.path.join(directory, "rate"), "w") as f:
        f.write(f"rate {frames}\n")


with tempfile.TemporaryDirectory() as work:
    # 4 frames in the short boot, 10 in the long: 6 frames apart, the work 6 frames apart.
    boot(os.path.join(work, "short"), 4, 4)
    boot(os.path.join(work, "long"), 10, 10)
    result = frame_costs.split(ringwave, os.path.join(work, "short"),
                               os.path.join(work, "long"))
    json.dumps(result)  # what the script writes must be JSON
    per_frame = result["per_frame"]
    check("frames", 6, result["frames"])
    check("program (the word and NEON loops)", 1000 + 100, per_frame["program"])
    check("SDL's conversion (its copy and the memcpy it calls)", 20 + 300,
          per_frame["sdl_conversion"])
    check("SDL's turning", 50 + 5, per_frame["sdl_turning"])
    check("SDL, the rest (SetColors, FindColor, UpdateShadowRects)", 10 + 7 + 2,
          per_frame["sdl"])
    check("libgcc's floating point", 30, per_frame["libgcc_fp"])
    check("C library: division, sin, memcpy not for SDL", 4 + 6 + 200, per_frame["libc"])
    check("of which maths", 6, result["maths"])
    check("kernel", 48, per_frame["kernel"])
    check("other processes", 3, per_frame["other"])
    check("whole system", 1100 + 320 + 55 + 19 + 30 + 210 + 48 + 3, result["total"])
    top = {t["function"]: t for t in result["top"]}
    check("the program's function, readable", "program",
          top.get("composeLayersWords", {}).get("category"))
    check("the kernel's function", 40, top.get("clcdfb_setcolreg", {}).get("per_frame"))
    check("a module's function", 8, top.get("amba_kmi_write [ambakmi]", {}).get("per_frame"))
    check("memcpy for SDL", 300,
          top.get("memcpy (called by SDL's blits)", {}).get("per_frame"))
    check("the turning's rows in C", "sdl_turning", top.get("FB_turn8to32", {}).get("category"))

    # The callee ranges handed to the plugin cover memcpy and the copy it branches to.
    ranges = frame_costs.Binary(ringwave).callee_ranges()
    for name in ("memcpy", "_memcpy"):
        check(f"{name} in a callee range", True,
              any(a <= symbols[name] < b for (a, b) in ranges))
    check("SDL_BlitCopy outside the callee ranges", False,
          any(a <= symbols["SDL_BlitCopy"] < b for (a, b) in ranges))

# A target relative to another path of the same build: met up to P% more than that path's
# figure, not judged without it.
(_, within) = frame_costs.target("within:10%:b", ["a", "b"])
for (after, others, met) in ((1100, {"b": 1000}, True), (1101, {"b": 1000}, False),
                             (900, {"a": 1000}, None)):
    check(f"{after} within 10% of b, b measured {others}", met,
          within(2000, after, others.get)[0])

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
print("ok: the breakdown's shares add up as worked out by hand")
