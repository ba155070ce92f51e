#!/usr/bin/env python3
"""Writes the program's animations, standard library only, so they can be
made again anywhere: python3 make_animations.py [folder]
  busy.gif  "work in progress": eight dots on a circle, the darkest one going round;
  copy.gif  files being copied: a sheet leaves one folder and lands in the other."""
import math
import struct
import sys

import os

SIZE = 48
FRAMES = 8
DELAY_CS = 10  # hundredths of a second per frame
# Index 0 is transparent; 1..7 go from the head's dark blue to a pale tail.
PALETTE = [(255, 255, 255), (31, 78, 140), (62, 104, 160), (94, 130, 180), (126, 156, 198),
           (158, 182, 214), (190, 206, 228), (214, 224, 238)]
MIN_CODE_SIZE = 3  # three bits cover the eight palette entries

COPY_FRAMES = 12
# Index 0 is transparent; folders in brown and yellow, the sheet in grey and white.
COPY_PALETTE = [(255, 255, 255), (122, 84, 20), (236, 186, 64), (248, 214, 120), (70, 70, 70),
                (255, 255, 255), (96, 128, 176), (200, 200, 200)]


def busy_frame(step):
    pixels = bytearray(SIZE * SIZE)
    centre = (SIZE - 1) / 2
    for dot in range(FRAMES):
        angle = 2 * math.pi * dot / FRAMES - math.pi / 2
        cx = centre + 16 * math.cos(angle)
        cy = centre + 16 * math.sin(angle)
        shade = 1 + (step - dot) % FRAMES
        if shade > 7:
            continue
        for y in range(SIZE):
            for x in range(SIZE):
                if (x - cx) ** 2 + (y - cy) ** 2 <= 4.5 ** 2:
                    pixels[y * SIZE + x] = shade
    return bytes(pixels)


def rect(pixels, x0, y0, x1, y1, index):
    for y in range(max(0, y0), min(SIZE, y1 + 1)):
        for x in range(max(0, x0), min(SIZE, x1 + 1)):
            pixels[y * SIZE + x] = index


def folder(pixels, x0):
    """A folder 18 wide at the bottom of the picture, its tab on the left."""
    rect(pixels, x0, 30, x0 + 7, 33, 1)        # tab outline
    rect(pixels, x0 + 1, 31, x0 + 6, 33, 3)    # tab
    rect(pixels, x0, 33, x0 + 17, 46, 1)       # body outline
    rect(pixels, x0 + 1, 34, x0 + 16, 45, 2)   # body


def copy_frame(step):
    pixels = bytearray(SIZE * SIZE)
    folder(pixels, 1)
    folder(pixels, 29)
    # The sheet flies on an arc from above the left folder to above the right one.
    t = step / (COPY_FRAMES - 1)
    left = round(5 + t * 28)
    top = round(20 - 18 * 4 * t * (1 - t))
    rect(pixels, left, top, left + 9, top + 12, 4)           # outline
    rect(pixels, left + 1, top + 1, left + 8, top + 11, 5)   # paper
    for line in range(3):
        rect(pixels, left + 2, top + 3 + 3 * line, left + 7, top + 3 + 3 * line, 6)
    return bytes(pixels)


def lzw(indices):
    clear = 1 << MIN_CODE_SIZE
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def fresh():
        return {bytes([i]): i for i in range(clear)}, MIN_CODE_SIZE + 1, end + 1

    table, size, next_code = fresh()
    emit(clear, size)
    run = b""
    for value in indices:
        longer = run + bytes([value])
        if longer in table:
            run = longer
            continue
        emit(table[run], size)
        table[longer] = next_code
        # The decoder widens its codes once the table has filled the current width.
        if next_code >= (1 << size):
            size += 1
        next_code += 1
        if next_code == 4096:
            emit(clear, size)
            table, size, next_code = fresh()
        run = bytes([value])
    emit(table[run], size)
    emit(end, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out += bytes([len(chunk)]) + chunk
    return bytes(out + b"\x00")


def gif(palette, frames, frame):
    out = bytearray(b"GIF89a")
    # Global colour table of 2^(2+1) entries.
    out += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | 0x70 | (MIN_CODE_SIZE - 1), 0, 0)
    for rgb in palette:
        out += bytes(rgb)
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for step in range(frames):
        # Each frame is drawn on a cleared canvas (disposal 2), index 0 transparent.
        out += b"\x21\xf9\x04" + struct.pack("<BHB", (2 << 2) | 1, DELAY_CS, 0) + b"\x00"
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        out += bytes([MIN_CODE_SIZE]) + blocks(lzw(frame(step)))
    out += b"\x3b"
    return bytes(out)


if __name__ == "__main__":
    folder_path = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, picture in (("busy.gif", gif(PALETTE, FRAMES, busy_frame)),
                          ("copy.gif", gif(COPY_PALETTE, COPY_FRAMES, copy_frame))):
        with open(os.path.join(folder_path, name), "wb") as f:
            f.write(picture)
