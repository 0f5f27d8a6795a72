#!/usr/bin/env python3
"""Prints the colour (r g b, 0-255) of a pixel of an XWD window dump.
usage: pixel.py DUMP X Y   (X, Y as fractions of the width and height, 0-1)"""
import struct
import sys

data = open(sys.argv[1], "rb").read()
fields = struct.unpack(">25I", data[:100])
header_size, depth, width, height = fields[0], fields[3], fields[4], fields[5]
byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
masks = fields[14:17]
ncolors = fields[19]
offset = header_size + 12 * ncolors
x = min(width - 1, int(float(sys.argv[2]) * width))
y = min(height - 1, int(float(sys.argv[3]) * height))
if bits_per_pixel != 32:
    sys.exit("unsupported dump: %d bits per pixel" % bits_per_pixel)
start = offset + y * bytes_per_line + x * 4
pixel = struct.unpack("<I" if byte_order == 0 else ">I", data[start:start + 4])[0]


def channel(mask):
    shift = (mask & -mask).bit_length() - 1
    return ((pixel & mask) >> shift) * 255 // (mask >> shift)


print(*(channel(m) for m in masks))
