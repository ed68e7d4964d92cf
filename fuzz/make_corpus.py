#!/usr/bin/env python3
"""Writes the small seed corpora of the two fuzzers (fuzz/corpus/...)."""
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
