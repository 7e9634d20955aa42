#!/usr/bin/python3
"""frame_check's device and picture searches on made-up screen dumps of a panel larger than the
picture: frames of a run (ringwave-snapshot's), put on the panel as a device shows them.
  frame_check_test.py FRAME_CHECK SNAPSHOT
Around the picture a palettised panel shows palette entry 0 in the palette the picture shows
in (SDL cleared the panel to zeros), another panel black; an 8-bit panel turned a quarter is
rewritten by SDL's blocks of 32 x 32 panel pixels, a converted one by whole rows."""
import os
import struct
import subprocess
import sys
import tempfile

WIDTH, HEIGHT = 320, 200
SEED = 1767225600
FRAME = 701  # entry 0 differs, as the panel keeps it, from the next frame's
KEEP5 = 0xF8  # the PL111's palette keeps the top 5 bits of a channel


def read_bmp(path):
    """An 8-bit BMP as SDL saves it: (indices row by row from the top, palette [(r, g, b)])."""
    with open(path, "rb") as f:
        data = f.read()
    (offset,) = struct.unpack_from("<I", data, 10)
    (header, width, height, _, bits) = struct.unpack_from("<IiiHH", data, 14)
    if (width, abs(height), bits) != (WIDTH, HEIGHT, 8):
        sys.exit(f"{path}: not a {WIDTH} x {HEIGHT} 8-bit picture")
    palette = [tuple(data[14 + header + 4 * i + c] for c in (2, 1, 0)) for i in range(256)]
    stride = (width + 3) & ~3
    rows = [data[offset + r * stride:offset + r * stride + width] for r in range(abs(height))]
    if height > 0:
        rows.reverse()
    return (b"".join(rows), palette)


class Check:
    def __init__(self, frame_check, snapshot, work):
        self.frame_check = frame_check
        self.work = work
        self.failures = 0
        self.frames = {}
        for frame in (FRAME, FRAME + 1, FRAME + 20):
            path = os.path.join(work, f"{frame}.bmp")
            subprocess.run([snapshot, str(SEED), str(frame), path], check=True,
                           capture_output=True)
            self.frames[frame] = read_bmp(path)

    def expect(self, what, status, args):
        done = subprocess.run([self.frame_check, *args], capture_output=True, text=True)
        if done.returncode != status:
            print(f"FAIL: {what}: status {done.returncode}, not {status} "
                  f"({done.stdout.strip()}{done.stderr.strip()})")
            self.failures += 1
        else:
            print(f"ok: {what}: {done.stdout.strip() or done.stderr.strip()}")

    def dump(self, name, panel, picture, surround, mask=0xFF):
        """A PPM of a PANEL (width, height) with the 320 x 200 PICTURE (a list of (r, g, b)
        row by row) in its middle and SURROUND around it, each channel kept by MASK."""
        (width, height) = panel
        (left, top) = ((width - WIDTH) // 2, (height - HEIGHT) // 2)
        pixels = bytearray(bytes(c & mask for c in surround) * (width * height))
        for y in range(HEIGHT):
            row = b"".join(bytes(c & mask for c in rgb)
                           for rgb in picture[y * WIDTH:(y + 1) * WIDTH])
            start = ((top + y) * width + left) * 3
            pixels[start:start + WIDTH * 3] = row
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height) + pixels)
        return path

    def device(self, what, status, path, display, turn):
        self.expect(what, status, ["device", str(SEED), str(FRAME + 2), path, display, turn])


def quarter_copy_order(blocked):
    """The picture's pixels (y * 320 + x) in the order SDL writes them into a panel turned a
    quarter clockwise: the picture's top row runs down the panel's right edge, so a panel row
    r of the picture's 200 x 320 on the panel is the picture's column r, its 200 pixels from
    the picture's bottom. By whole panel rows, or by 32 x 32 blocks: bands of 32 panel rows,
    in each the blocks from the left, each row by row."""
    (across, down) = (HEIGHT, WIDTH)  # the picture on the panel
    step = 32 if blocked else across
    order = []
    for band in range(0, down, step):
        for left in range(0, across, step):
            for row in range(band, min(band + step, down)):
                for column in range(left, min(left + step, across)):
                    order.append((HEIGHT - 1 - column) * WIDTH + row)
    return order


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as work:
        check = Check(argv[1], argv[2], work)
        (pixels, palette) = check.frames[FRAME]
        (next_pixels, next_palette) = check.frames[FRAME + 1]
        entry0 = palette[0]
        later0 = check.frames[FRAME + 20][1][0]
        kept0 = {tuple(c & KEEP5 for c in colour) for colour in (entry0, next_palette[0], later0)}
        if len(kept0) != 3 or (0, 0, 0) in kept0:
            sys.exit("the frames chosen do not tell entry 0's colours apart, or it is black")
        own = [palette[i] for i in pixels]
        panel = (640, 480)

        # An 8-bit palettised panel upside down: the surround is entry 0, as the panel keeps it.
        shown = check.dump("ud.ppm", panel, own, entry0, KEEP5)
        check.device("palette, UD, entry 0 around", 0, shown, "palette", "UD")
        check.expect("picture, palette, entry 0 around", 0, ["picture", shown, "palette"])
        check.device("palette, UD, black around", 1,
                     check.dump("ud-black.ppm", panel, own, (0, 0, 0), KEEP5), "palette", "UD")
        check.device("palette, UD, a later frame's entry 0 around", 1,
                     check.dump("ud-later0.ppm", panel, own, later0, KEEP5), "palette", "UD")
        # The palette half written (entries below 100 the next frame's): entry 0 is new.
        half = [next_palette[i] if i < 100 else palette[i] for i in range(256)]
        check.device("palette, UD, palette half set, entry 0 new", 0,
                     check.dump("ud-half.ppm", panel, [half[i] for i in pixels],
                                next_palette[0], KEEP5), "palette", "UD")
        check.device("palette, UD, palette half set, entry 0 old", 1,
                     check.dump("ud-half-old0.ppm", panel, [half[i] for i in pixels], entry0,
                                KEEP5), "palette", "UD")

        # Turned a quarter: the copy caught in the middle of a block (band 2, block 3, its
        # row 5, column 10), the next frame's palette already set.
        panel = (480, 640)  # the dump turned back upright
        blocked = quarter_copy_order(True)
        written = set(blocked[:2 * 32 * 200 + 3 * 32 * 32 + 5 * 32 + 10])
        mixed = [next_palette[next_pixels[p] if p in written else pixels[p]]
                 for p in range(WIDTH * HEIGHT)]
        shown = check.dump("cw-block.ppm", panel, mixed, next_palette[0], KEEP5)
        check.device("palette, CW, copy caught mid-block", 0, shown, "palette", "CW")
        check.device("palette, CW, copy mid-block, entry 0 of the old palette around", 1,
                     check.dump("cw-block-old0.ppm", panel, mixed, entry0, KEEP5),
                     "palette", "CW")
        # The same number of pixels written by whole panel rows is not how an 8-bit panel is
        # rewritten, but is how a converted one is.
        rows = set(quarter_copy_order(False)[:len(written)])
        by_rows = [(next_palette, next_pixels) if p in rows else (palette, pixels)
                   for p in range(WIDTH * HEIGHT)]
        check.device("palette, CW, copy by whole rows", 1,
                     check.dump("cw-rows.ppm", panel,
                                [next_palette[next_pixels[p]] if p in rows
                                 else next_palette[pixels[p]] for p in range(WIDTH * HEIGHT)],
                                next_palette[0], KEEP5), "palette", "CW")
        check.device("xrgb8888, CW, converted by whole rows", 0,
                     check.dump("cw-rows32.ppm", panel,
                                [colours[frame_pixels[p]] for (p, (colours, frame_pixels))
                                 in enumerate(by_rows)], (0, 0, 0)), "xrgb8888", "CW")

        # A converted panel is black around the picture, whatever entry 0 is.
        shown = check.dump("x-entry0.ppm", (640, 480), own, entry0)
        check.device("xrgb8888, entry 0 around", 1, shown, "xrgb8888", "UD")
        check.expect("picture, xrgb8888, entry 0 around", 1, ["picture", shown, "xrgb8888"])
        shown = check.dump("x-black.ppm", (640, 480), own, (0, 0, 0))
        check.device("xrgb8888, black around", 0, shown, "xrgb8888", "UD")
        # A surround of more than one colour is no picture on any panel.
        surround_spot = check.dump("spot.ppm", (640, 480), own, entry0, KEEP5)
        with open(surround_spot, "r+b") as f:
            f.seek(len(b"P6\n640 480\n255\n"))
            f.write(b"\x00\x00\x00")
        check.expect("picture, palette, one pixel around not entry 0", 1,
                     ["picture", surround_spot, "palette"])
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
