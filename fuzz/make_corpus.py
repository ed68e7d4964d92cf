#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzzers (fuzz/corpus/...)."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def write(kind, name, data):
    path = os.path.join(here, "corpus", kind)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def wav(samples):
    data = struct.pack("<%dh" % len(samples), *samples)
    return struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", len(data) + 36, b"WAVE", b"fmt ", 16, 1, 1,
                       8000, 16000, 2, 16, b"data", len(data)) + data


for threshold in (100, 0, 32767, 32768, -100, 65636, -32768):
    t = struct.pack("<i", threshold)
    write("distortion", "t%d-wav" % threshold, t + wav([0, 150, -150, 32767, -32768, 99, -100]))
write("distortion", "short", struct.pack("<i", 100) + b"RIFF\x01")
write("distortion", "odd", struct.pack("<i", 7) + wav([1, 2, 3]) + b"\x01")
write("distortion", "empty", b"")

for name, text in (("ascii", "in.wav"), ("polish", "wejście-ą.wav"), ("cjk", "音.wav"), ("emoji", "🎵.wav")):
    write("names", name, b"\x40" + text.encode("utf-16-le"))
write("names", "lone-high", b"\x40" + b"a\x00\x3c\xd8")
write("names", "lone-low", b"\x40" + b"\xb5\xdfa\x00")
write("names", "tiny-buffer", b"\x00" + "音音音".encode("utf-16-le"))


def chunk(ident, body, declared=None):
    return ident + struct.pack("<I", len(body) if declared is None else declared) + body + b"\0" * (len(body) % 2)


fmt = chunk(b"fmt ", struct.pack("<HHIIHH", 1, 2, 8000, 32000, 4, 16))
samples = struct.pack("<8h", 1, -1, 300, -300, 32767, -32768, 5, 6)


def riff(chunks, form=b"RIFF"):
    return form + struct.pack("<I", len(chunks) + 4) + b"WAVE" + chunks


write("riff", "library", wav([0, 150, -150]))
write("riff", "ffmpeg", riff(fmt + chunk(b"LIST", b"INFOISFT\x0d\0\0\0Lavf60.3.100\0") + chunk(b"data", samples)))
write("riff", "streamed", riff(fmt + chunk(b"data", samples, 0xFFFFFFFF)))
write("riff", "data-first", riff(chunk(b"data", samples) + fmt + chunk(b"id3 ", b"tag")))
ds64 = chunk(b"ds64", struct.pack("<QQQI", 0, 0, 0, 0))
write("riff", "rf64-streamed", riff(ds64 + fmt + chunk(b"data", samples, 0xFFFFFFFF), b"RF64"))
extensible = chunk(b"fmt ", struct.pack("<HHIIHHHHI", 0xFFFE, 6, 8000, 96000, 12, 16, 22, 16, 0x3F) +
                   struct.pack("<I", 1) + bytes([0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71]))
write("riff", "extensible", riff(extensible + chunk(b"data", samples[:12])))
