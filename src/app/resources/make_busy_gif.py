#!/usr/bin/env python3
"""Writes busy.gif, the program's "work in progress" animation: eight dots on
a circle, the darkest one going round. Standard library only, so the picture
can be made again anywhere: python3 make_busy_gif.py [output]."""
import math
import struct
import sys

SIZE = 48
FRAMES = 8
DELAY_CS = 10  # hundredths of a second per frame
# Index 0 is transparent; 1..7 go from the head's dark blue to a pale tail.
PALETTE = [(255, 255, 255), (31, 78, 140), (62, 104, 160), (94, 130, 180), (126, 156, 198),
           (158, 182, 214), (190, 206, 228), (214, 224, 238)]
MIN_CODE_SIZE = 3  # three bits cover the eight palette entries


def frame(step):
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


def gif():
    out = bytearray(b"GIF89a")
    # Global colour table of 2^(2+1) entries.
    out += struct.pack("<HHBBB", SIZE, SIZE, 0x80 | 0x70 | (MIN_CODE_SIZE - 1), 0, 0)
    for rgb in PALETTE:
        out += bytes(rgb)
    out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for step in range(FRAMES):
        # Each frame is drawn on a cleared canvas (disposal 2), index 0 transparent.
        out += b"\x21\xf9\x04" + struct.pack("<BHB", (2 << 2) | 1, DELAY_CS, 0) + b"\x00"
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        out += bytes([MIN_CODE_SIZE]) + blocks(lzw(frame(step)))
    out += b"\x3b"
    return bytes(out)


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else "busy.gif"
    with open(path, "wb") as f:
        f.write(gif())
