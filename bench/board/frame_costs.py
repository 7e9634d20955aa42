#!/usr/bin/python3
"""Where each frame's instructions go on the emulated board: the block profiles of two boots
(bench/board/block_profile.c) that differ only in how long ringwave runs, turned into
instructions per frame for the program's own code, SDL (its pixel conversion and its turning
apart), the C library, libgcc's floating point and the kernel, with the top functions.

  frame_costs.py split RINGWAVE SHORT_DIR LONG_DIR OUT.json [--KEY VALUE]...
      RINGWAVE: the static device binary the board ran, its linker map beside it (.map);
      SHORT_DIR, LONG_DIR: the profile, kallsyms and rate of each boot.
  frame_costs.py callees RINGWAVE
      The plugin's callee arguments: the C library's memory copies and fills, whose cost
      goes to their callers' share where the caller is SDL's conversion.
  frame_costs.py report OUT.md OUT.png RESULT.json...
      Tables (markdown) and a stacked bar per display path, before and after side by side;
      each path's targets (from its board's folder) met or not.

Only Python's standard library, and matplotlib for the picture."""
import bisect
import json
import os
import re
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "boards"))
import boards  # noqa: E402

# The shares, in the order of the tables and the bars.
CATEGORIES = [
    ("program", "the program's own code"),
    ("sdl_conversion", "SDL's copy or conversion to the screen (blits, their memcpy)"),
    ("sdl_turning", "SDL's turning into a turned panel (with its conversion)"),
    ("sdl", "SDL, the rest"),
    ("libc", "C library"),
    ("libgcc_fp", "libgcc's floating point"),
    ("kernel", "kernel"),
    ("other", "other processes"),
]
CATEGORY_NAMES = dict(CATEGORIES)

# The lowest kernel address: the ARM kernel's modules sit just below its 3 GB split.
KERNEL_START = 0xBF000000
# SDL's blitters: the shadow surface's copy (SDL_BlitCopy) and its conversions to the
# screen's format (Blit1to2, Blit1to4, ...), and the software blit that runs them.
SDL_CONVERSION_MEMBERS = {"SDL_blit.o", "SDL_blit_0.o", "SDL_blit_1.o", "SDL_blit_A.o",
                          "SDL_blit_N.o"}
# SDL's framebuffer console turning its shadow into a turned panel: the 8-bit screen converted
# and turned in one pass (FB_turn8to*, their ARM loops), and the turning copies of a shadow
# already in the panel's format (FB_blit*). GCC's clones (FB_blit8.constprop.0) count too.
SDL_TURNING_FUNCTIONS = {"FB_turn8to16", "FB_turn8to32", "SDL_FB_Turn8to16_ARM",
                         "SDL_FB_Turn8to32_ARM", "SDL_FB_Turn8to8_ARM", "FB_blit8",
                         "FB_blit8blocked", "FB_blit16", "FB_blit16blocked", "FB_blit32",
                         "FB_blit32blocked", "FB_blitblocked"}
# The picture's pixels, which the turning's cost is given per.
PIXELS = 320 * 200
# Instructions per frame that two boots of the same binary differ by (timer interrupts
# falling differently): shares below it are not shown apart.
NOISE = 50


def _no_dearer(before, after):
    return after <= before + NOISE


def target(text, known):
    """A target for a path's whole frame as a board's folder words it (boards/boards.py), the
    measured paths KNOWN: (the target in words, check), check(before, after, after_of) the
    verdict on the path's before and after figures, after_of(PATH) the after figure of
    another path or None: (met: True, False, or None when it cannot be judged; a note)."""
    (kind, _, value) = text.partition(":")
    if text == "no-dearer":
        return ("no dearer than before",
                lambda before, after, after_of: (_no_dearer(before, after), ""))
    if kind == "at-most" and value.isdigit():
        most = int(value)
        return (f"at most {most:,}", lambda before, after, after_of: (after <= most, ""))
    if kind == "fewer" and value.endswith("%") and value[:-1].isdigit():
        percent = int(value[:-1])
        return (f"at least {percent}% fewer than before",
                lambda before, after, after_of: (after <= (1 - percent / 100) * before, ""))
    (percent, _, other) = value.partition(":")
    if kind == "within" and percent.endswith("%") and percent[:-1].isdigit() and other:
        if other not in known:
            raise SystemExit(f"frame_costs.py: target '{text}': no measured path {other} "
                             f"(known: {' '.join(known)})")
        most = int(percent[:-1])

        def within(before, after, after_of):
            base = after_of(other)
            if not base:
                return (None, f"{other} not measured in this run")
            return (after <= (1 + most / 100) * base,
                    f"{(after - base) / base * 100:+.1f}% on {number(base)}")
        return (f"at most {most}% more than {other}", within)
    raise SystemExit(f"frame_costs.py: unknown target '{text}'")


def measured_path(path):
    """The board of a measured path (boards/boards.py names them), the run's words and the
    targets for its whole frame (reported, never enforced); None for an unknown path."""
    known = boards.paths()
    for (measured, board, words, targets) in known:
        if measured == path:
            return (board, words, [target(t, [p[0] for p in known]) for t in targets])
    return None


# The C library's memory functions, whose calls are charged to their callers.
CALLEE_FUNCTIONS = {"memcpy", "_memcpy", "memmove", "memset", "bcopy", "mempcpy"}


# --- the static binary: symbols, bytes, archive members ---------------------------------

class Elf:
    """A 32-bit little-endian ELF file: its loaded segments and its function symbols."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:4] != b"\x7fELF" or d[4] != 1 or d[5] != 1:
            raise SystemExit(f"{path}: not a 32-bit little-endian ELF file")
        (phoff, shoff) = struct.unpack_from("<II", d, 28)
        (phentsize, phnum, shentsize, shnum) = struct.unpack_from("<HHHH", d, 42)
        self.segments = []  # (vaddr, file offset, file size)
        for i in range(phnum):
            (ptype, offset, vaddr, _, filesz) = struct.unpack_from("<IIIII", d,
                                                                    phoff + i * phentsize)
            if ptype == 1:
                self.segments.append((vaddr, offset, filesz))
        sections = [struct.unpack_from("<IIIIIIIIII", d, shoff + i * shentsize)
                    for i in range(shnum)]
        functions = {}
        for sec in sections:
            if sec[1] != 2:  # SHT_SYMTAB
                continue
            strtab = sections[sec[6]]
            for j in range(sec[5] // sec[9]):
                (name, value, size, info, _, shndx) = struct.unpack_from(
                    "<IIIBBH", d, sec[4] + j * sec[9])
                kind = info & 0xF
                if shndx == 0 or kind not in (0, 2) or name == 0:  # NOTYPE or FUNC
                    continue
                text = d[strtab[4] + name:d.index(b"\0", strtab[4] + name)].decode()
                if text.startswith("$") or (kind == 0 and size == 0 and "." in text):
                    continue
                address = value & ~1
                # One name an address: a function's own name before its aliases (__GI_...).
                if address not in functions or (kind == 2 and functions[address][0] == 0) or \
                        (functions[address][1].startswith("__GI_") and
                         not text.startswith("__GI_")):
                    functions[address] = (kind, text, size)
        self.starts = sorted(a for a, f in functions.items() if f[0] == 2 or f[2] > 0)
        self.functions = functions

    def read(self, vaddr, size):
        """The bytes loaded at [vaddr, vaddr + size), or None."""
        for (start, offset, filesz) in self.segments:
            if start <= vaddr and vaddr + size <= start + filesz:
                return self.data[offset + vaddr - start:offset + vaddr - start + size]
        return None

    def function(self, vaddr):
        """The name of the function holding vaddr, or None."""
        i = bisect.bisect_right(self.starts, vaddr) - 1
        if i < 0:
            return None
        start = self.starts[i]
        (_, name, size) = self.functions[start]
        if size and vaddr >= start + size:
            return None
        return name


def fnv1a(data):
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def read_map(path):
    """The input sections of the linker map: sorted (start, end, archive, member). An input
    section's line starts with one space and its name: .text..., COMMON, or a section of
    the program's own (hwcap_neon, the NEON loop's)."""
    sections = []
    pending = None
    line_re = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
    with open(path) as f:
        for line in f:
            if re.match(r" [^\s*]", line):
                fields = line.split()
                if len(fields) == 1:
                    pending = fields[0]
                    continue
                rest = line[len(" " + fields[0]):]
                pending = None
            elif pending is not None:
                rest = line
                pending = None
            else:
                continue
            m = line_re.match(rest if rest.startswith(" ") else " " + rest)
            if not m:
                continue
            (start, size, origin) = (int(m.group(1), 16), int(m.group(2), 16), m.group(3))
            if size == 0 or start == 0:
                continue
            am = re.match(r"^(.*?)([^/]+\.a)\((.+)\)$", origin.strip())
            if am:
                sections.append((start, start + size, am.group(2), am.group(3)))
            else:
                sections.append((start, start + size, origin.strip().rsplit("/", 1)[-1], ""))
    sections.sort()
    return sections


class Binary:
    """The device binary: which function and which part of the link each address is."""

    def __init__(self, path):
        self.elf = Elf(path)
        self.sections = read_map(path + ".map")
        self.section_starts = [s[0] for s in self.sections]

    def origin(self, vaddr):
        i = bisect.bisect_right(self.section_starts, vaddr) - 1
        if i >= 0 and vaddr < self.sections[i][1]:
            return self.sections[i][2:]
        return ("", "")

    def classify(self, vaddr):
        """(category, part) of the code at vaddr: part names the library or object."""
        (archive, member) = self.origin(vaddr)
        if archive.startswith("libSDL"):
            if (self.elf.function(vaddr) or "").split(".")[0] in SDL_TURNING_FUNCTIONS:
                return ("sdl_turning", "SDL " + member)
            if member in SDL_CONVERSION_MEMBERS:
                return ("sdl_conversion", "SDL " + member)
            return ("sdl", "SDL " + member)
        if archive == "libgcc.a":
            if re.search(r"[ds]f\d?\.o$|df3|sf3|fixdf|fixunsdf|floatsidf|truncdf|extendsf",
                         member):
                return ("libgcc_fp", "libgcc " + member)
            return ("libc", "libgcc " + member)
        if archive.startswith("libringwave") or archive.endswith(".cpp.o") or \
                archive.endswith(".c.o"):
            return ("program", archive + (f"({member})" if member else ""))
        if archive in ("libc.a", "libm.a"):
            maths = re.match(r"^[eksw]_\w+\.os?$", member) is not None
            return ("libc", "libc maths" if maths else "libc")
        # libstdc++, libgcc_eh, the start files: the C and C++ run-time support.
        return ("libc", archive or "unknown")

    def callee_ranges(self):
        ranges = []
        for start in self.elf.starts:
            (_, name, size) = self.elf.functions[start]
            if name in CALLEE_FUNCTIONS or name.lstrip("_") in CALLEE_FUNCTIONS:
                if not size:
                    i = self.elf.starts.index(start)
                    size = self.elf.starts[i + 1] - start
                ranges.append((start, start + size))
        return sorted(set(ranges))


# --- the kernel's symbols --------------------------------------------------------------

class Kernel:
    """The kernel's text symbols as /proc/kallsyms lists them (modules in brackets)."""

    def __init__(self, path):
        symbols = {}
        with open(path) as f:
            for line in f:
                fields = line.split()
                if len(fields) < 3 or not re.match(r"^[0-9a-f]+$", fields[0]):
                    continue
                address = int(fields[0], 16)
                name = fields[2]
                if name.startswith("$") or address == 0:
                    continue
                if len(fields) > 3:
                    name += " " + fields[3]
                symbols.setdefault(address, name)
        self.starts = sorted(symbols)
        self.names = symbols

    def function(self, vaddr):
        i = bisect.bisect_right(self.starts, vaddr) - 1
        if i < 0 or vaddr >= 0xFFFF0000:
            return "vector page (exception entry, user helpers)"
        return self.names[self.starts[i]]


# --- one boot's profile ----------------------------------------------------------------

def read_profile(path):
    """{(vaddr, size, hash): [insns, execs]}, [(caller key, callee vaddr, insns, calls)]."""
    blocks = {}
    calls = []
    with open(path) as f:
        for line in f:
            fields = line.split()
            if fields[0] == "block":
                key = (int(fields[1], 16), int(fields[2]), int(fields[3], 16))
                entry = blocks.setdefault(key, [0, 0])
                entry[0] += int(fields[4])
                entry[1] += int(fields[5])
            elif fields[0] == "call":
                key = (int(fields[1], 16), int(fields[2]), int(fields[3], 16))
                calls.append((key, int(fields[4], 16), int(fields[5]), int(fields[6])))
    return blocks, calls


def readable(names):
    """C++ names demangled, without their parameters: {name: readable name}."""
    try:
        run = subprocess.run(["c++filt", "-p"], input="\n".join(names), capture_output=True,
                             text=True, check=True)
        return dict(zip(names, run.stdout.split("\n")))
    except (OSError, subprocess.CalledProcessError):
        return {name: name for name in names}


def read_rate(path):
    with open(path) as f:
        return float(f.read().split()[1])


class Attribution:
    """Every block's owner: (category, part, function), cached by block."""

    def __init__(self, binary, kernel):
        self.binary = binary
        self.kernel = kernel
        self.cache = {}

    def is_ringwave(self, key):
        (vaddr, size, digest) = key
        code = self.binary.elf.read(vaddr, size)
        return code is not None and fnv1a(code) == digest

    def owner(self, key):
        if key in self.cache:
            return self.cache[key]
        vaddr = key[0]
        if vaddr >= KERNEL_START:
            result = ("kernel", "kernel", self.kernel.function(vaddr))
        elif self.is_ringwave(key):
            (category, part) = self.binary.classify(vaddr)
            result = (category, part, self.binary.elf.function(vaddr) or f"0x{vaddr:x}")
        else:
            result = ("other", "other processes", "other processes")
        self.cache[key] = result
        return result


def split(binary_path, short_dir, long_dir):
    binary = Binary(binary_path)
    kernel = Kernel(long_dir + "/kallsyms")
    owners = Attribution(binary, kernel)
    (short_blocks, short_calls) = read_profile(short_dir + "/profile")
    (long_blocks, long_calls) = read_profile(long_dir + "/profile")

    # Frames: calls of SDL_SetColors, once a frame whatever the frame loop's order.
    def set_colors_calls(blocks):
        start = [a for a in binary.elf.starts if binary.elf.functions[a][1] == "SDL_SetColors"]
        return sum(e[1] for k, e in blocks.items()
                   if start and k[0] == start[0] and owners.is_ringwave(k))
    frames = set_colors_calls(long_blocks) - set_colors_calls(short_blocks)
    if frames <= 0:
        raise SystemExit("frame_costs.py: the longer boot drew no more frames")

    # Instructions per function, long boot minus short boot.
    functions = {}
    totals = dict.fromkeys(CATEGORY_NAMES, 0)
    for key in set(short_blocks) | set(long_blocks):
        insns = long_blocks.get(key, [0, 0])[0] - short_blocks.get(key, [0, 0])[0]
        if insns == 0:
            continue
        owner = owners.owner(key)
        totals[owner[0]] += insns
        functions[owner] = functions.get(owner, 0) + insns

    # The memory copies that SDL's conversion calls are part of the conversion.
    moved = 0
    for (calls, sign) in ((long_calls, 1), (short_calls, -1)):
        for (caller, _, insns, _) in calls:
            if owners.owner(caller)[0] == "sdl_conversion" and owners.is_ringwave(caller):
                moved += sign * insns
    totals["libc"] -= moved
    totals["sdl_conversion"] += moved
    memcpy_owner = ("sdl_conversion", "libc, called by SDL's blits",
                    "memcpy (called by SDL's blits)")
    if moved:
        functions[memcpy_owner] = moved
        # Take it from the C library's copy functions, the biggest first.
        left = moved
        for owner in sorted((o for o in functions if o[0] == "libc" and
                             o[2] in CALLEE_FUNCTIONS), key=lambda o: -functions[o]):
            take = min(left, functions[owner])
            functions[owner] -= take
            left -= take

    total = sum(totals.values())
    # Blocks whose bytes are not the binary's are other programs (busybox, asleep while
    # ringwave runs): much of them means the profile is not of this binary.
    if totals["other"] > 0.05 * total:
        raise SystemExit(f"frame_costs.py: {totals['other'] / total:.0%} of the instructions "
                         f"are not {binary_path}'s code: a profile of another binary?")
    top = sorted(((insns / frames, owner[2], owner[0], owner[1])
                  for owner, insns in functions.items()), reverse=True)[:15]
    names = readable([t[1] for t in top])
    top = [(n, names[f], c, p) for (n, f, c, p) in top]
    short_rate = read_rate(short_dir + "/rate")
    long_rate = read_rate(long_dir + "/rate")
    return {
        "frames": frames,
        "rates": [short_rate, long_rate],
        "per_frame": {c: totals[c] / frames for c in CATEGORY_NAMES},
        "total": total / frames,
        "maths": sum(i for o, i in functions.items() if o[1] == "libc maths") / frames,
        "top": [{"function": f, "category": c, "part": p, "per_frame": round(n, 1)}
                for (n, f, c, p) in top],
    }


# --- tables and the picture ------------------------------------------------------------

def number(x):
    return f"{round(x):,}"


def change(before, after):
    if before is None or after is None or before == 0:
        return "—"
    percent = round((after - before) / before * 100)
    return f"{percent:+d}%" if percent else "0%"


def verdict(words, checked):
    """A target's line in the report: its words, met or not, the note."""
    (met, note) = checked
    told = {True: "met", False: "**not met**", None: "not judged"}[met]
    return f"{words}: {told}" + (f" ({note})" if note else "")


def report(md_path, png_path, result_paths):
    results = []
    for path in result_paths:
        with open(path) as f:
            results.append(json.load(f))
    paths = []  # display paths in the order first met
    for r in results:
        if r["path"] not in paths:
            paths.append(r["path"])
    by = {(r["path"], r["build"]): r for r in results}
    lines = []
    for path in paths:
        before = by.get((path, "before"))
        after = by.get((path, "after"))
        lines.append(f"**{path}**" + (f" — {before['display']}" if before and
                                       before.get("display") else ""))
        lines.append("")
        lines.append("| instructions per frame | before | after | change |")
        lines.append("|---|---:|---:|---:|")
        rows = [("**whole system**", "total")] + [(name, key) for key, name in CATEGORIES]
        for (name, key) in rows:
            def value(r):
                if r is None:
                    return None
                return r["total"] if key == "total" else r["per_frame"][key]
            (b, a) = (value(before), value(after))
            # Other processes: only where they are more than the boots' noise; the turning
            # only on a turned panel.
            if key == "other" and abs(b or 0) < NOISE and abs(a or 0) < NOISE:
                continue
            if key == "sdl_turning" and not round(b or 0) and not round(a or 0):
                continue
            cell_b = number(b) if b is not None else "—"
            cell_a = number(a) if a is not None else "—"
            if key == "total":
                cell_a = f"**{cell_a}**"
            lines.append(f"| {name} | {cell_b} | {cell_a} | {change(b, a)} |")
            if key == "libc":
                (mb, ma) = (before and before["maths"], after and after["maths"])
                lines.append(f"| &nbsp;&nbsp;of which maths (`sin`) | "
                             f"{number(mb) if mb is not None else '—'} | "
                             f"{number(ma) if ma is not None else '—'} | "
                             f"{change(mb, ma)} |")
        lines.append("")
        turning = [(name, r["per_frame"].get("sdl_turning", 0))
                   for (name, r) in (("before", before), ("after", after)) if r]
        if any(round(n) for (_, n) in turning):
            lines.append("SDL's turning, instructions a pixel of the picture's "
                         f"{PIXELS:,}: " + ", ".join(f"{n / PIXELS:.2f} {name}"
                                                     for (name, n) in turning) + ".")
            lines.append("")
        targets = (measured_path(path) or (None, None, []))[2]
        if before and after and targets:
            def after_of(other):
                return by[(other, "after")]["total"] if (other, "after") in by else None
            lines.append("Targets for the whole frame: " +
                         "; ".join(verdict(words, check(before["total"], after["total"],
                                                        after_of))
                                   for (words, check) in targets) + ".")
            lines.append("")
        for (name, r) in (("before", before), ("after", after)):
            if r is None:
                continue
            top = ", ".join(f"`{t['function']}` {number(t['per_frame'])}"
                            for t in r["top"][:8])
            lines.append(f"Top functions {name}: {top}.")
            lines.append("")
    with open(md_path, "w") as f:
        f.write("\n".join(lines))
    picture(png_path, paths, by)


def picture(png_path, paths, by):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    colours = ["#4c72b0", "#dd8452", "#da8bc3", "#f2c45f", "#55a868", "#c44e52", "#8172b3",
               "#937860"]
    bars = []
    for path in paths:
        for build in ("before", "after"):
            if (path, build) in by:
                bars.append((path, build, by[(path, build)]))
    fig, ax = plt.subplots(figsize=(max(8, 0.9 * len(bars) + 2), 5.5))
    xs = []
    x = 0.0
    last_path = None
    for (path, _, _) in bars:
        if last_path is not None and path != last_path:
            x += 0.6
        xs.append(x)
        x += 1.0
        last_path = path
    bottoms = [0.0] * len(bars)
    for (i, (key, name)) in enumerate(CATEGORIES):
        values = [r["per_frame"][key] / 1000 for (_, _, r) in bars]
        if key == "other" and max(values) < 0.5:
            continue
        ax.bar(xs, values, 0.8, bottom=bottoms, label=name, color=colours[i])
        bottoms = [b + v for b, v in zip(bottoms, values)]
    for (x, (_, build, r)) in zip(xs, bars):
        ax.text(x, r["total"] / 1000, f"{r['total'] / 1000:.0f}k", ha="center",
                va="bottom", fontsize=8)
    ax.set_xticks(xs)
    ax.set_xticklabels([build for (_, build, _) in bars], fontsize=8)
    # Each display path's name under its bars.
    for path in paths:
        where = [x for (x, (p, _, _)) in zip(xs, bars) if p == path]
        ax.text(sum(where) / len(where), -0.09, path, ha="center", va="top", fontsize=8,
                transform=ax.get_xaxis_transform())
    ax.set_ylabel("thousand guest instructions per frame")
    revisions = {build: r.get("revision", build) for (_, build, r) in bars}
    ax.set_title("ringwave: where each frame goes, per display path (whole system; before "
                 f"{revisions.get('before', '—')}, after {revisions.get('after', '—')})",
                 fontsize=10)
    handles, labels = ax.get_legend_handles_labels()
    ax.legend(handles[::-1], labels[::-1], fontsize=8, loc="upper left")
    ax.set_ylim(0, max(bottoms) * 1.1)
    fig.tight_layout()
    fig.savefig(png_path, dpi=110)


def main(argv):
    if len(argv) >= 6 and argv[1] == "split":
        # --path, --build, --revision: what the run was, kept in the result.
        extra = {}
        rest = argv[6:]
        while rest:
            if not rest[0].startswith("--") or len(rest) < 2:
                raise SystemExit(f"frame_costs.py: unexpected {rest[0]}")
            extra[rest[0][2:]] = rest[1]
            rest = rest[2:]
        result = split(argv[2], argv[3], argv[4])
        result.update(extra)
        # What the path's screen is, from its board's folder.
        found = measured_path(result.get("path", ""))
        if found and "display" not in result:
            (board, words, _) = found
            result["display"] = board["description"] + (
                ", " + " ".join([w for w in words if boards.ENVIRONMENT_WORD.match(w)] +
                                ["ringwave"] +
                                [w for w in words if not boards.ENVIRONMENT_WORD.match(w)])
                if words else "")
        with open(argv[5], "w") as f:
            json.dump(result, f, indent=1)
        return 0
    if len(argv) == 3 and argv[1] == "callees":
        binary = Binary(argv[2])
        print(" ".join(f"callee={a:x}-{b:x}" for (a, b) in binary.callee_ranges()))
        return 0
    if len(argv) >= 5 and argv[1] == "report":
        report(argv[2], argv[3], argv[4:])
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
