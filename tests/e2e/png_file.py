"""Reads the 8-bit RGB and RGBA PNG files that vxlrender writes, with the
standard library only (zlib), so that the tests judge the file itself and not
what some converter makes of it. Anything else (palettes, 16 bits,
interlacing) raises ValueError."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """Returns (width, height, channels, pixels): rows from the top, `channels`
    (3 or 4) bytes per pixel. Checks every chunk's CRC."""
    with open(path, "rb") as f:
        blob = f.read()
    if blob[:8] != SIGNATURE:
        raise ValueError("%s: not a PNG file" % path)
    pos, header, idat, ended = 8, None, [], False
    while pos < len(blob):
        (length,) = struct.unpack(">I", blob[pos : pos + 4])
        kind = blob[pos + 4 : pos + 8]
        data = blob[pos + 8 : pos + 8 + length]
        (crc,) = struct.unpack(">I", blob[pos + 8 + length : pos + 12 + length])
        if zlib.crc32(kind + data) != crc:
            raise ValueError("%s: bad CRC in chunk %r" % (path, kind))
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", data)
        elif kind == b"IDAT":
            idat.append(data)
        elif kind == b"IEND":
            ended = True
            break
    if header is None or not ended:
        raise ValueError("%s: truncated PNG" % path)
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("%s: not 8-bit RGB or RGBA" % path)
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    if len(raw) != height * (stride + 1):
        raise ValueError("%s: wrong amount of image data" % path)
    out = bytearray(height * stride)
    prev = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1 : (y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(channels, stride):
                line[i] = (line[i] + line[i - channels]) & 255
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + prev[i]) & 255
        elif kind == 3:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                left = line[i - channels] if i >= channels else 0
                upleft = prev[i - channels] if i >= channels else 0
                line[i] = (line[i] + _paeth(left, prev[i], upleft)) & 255
        elif kind != 0:
            raise ValueError("%s: unknown filter %d" % (path, kind))
        out[y * stride : (y + 1) * stride] = line
        prev = line
    return width, height, channels, bytes(out)


def rgb_of(pixels, channels):
    """The red, green and blue bytes of each pixel, alpha dropped."""
    if channels == 3:
        return pixels
    return bytes(b for i, b in enumerate(pixels) if i % 4 != 3)
