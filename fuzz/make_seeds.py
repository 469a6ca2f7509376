#!/usr/bin/env python3
"""Writes the seed corpus of the RIFF/WAVE fuzzer into corpus/wave (small valid and broken files)."""
import math, os, struct

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "wave")
os.makedirs(out, exist_ok=True)

def chunk(cid, payload, size=None):
    size = len(payload) if size is None else size
    pad = b"\0" if len(payload) % 2 else b""
    return cid + struct.pack("<I", size) + payload + pad

def fmt(tag=1, ch=1, rate=8000, bits=16, align=None, avg=None, extra=b""):
    align = ch * bits // 8 if align is None else align
    avg = align * rate if avg is None else avg
    return struct.pack("<HHIIHH", tag, ch, rate, avg, align, bits) + extra

def riff(body, size=None):
    size = 4 + len(body) if size is None else size
    return b"RIFF" + struct.pack("<I", size) + b"WAVE" + body

def pcm16(n, amp=12000, ch=1):
    return b"".join(struct.pack("<h", int(amp * math.sin(i / 5))) * ch for i in range(n))

seeds = {
    "mono16.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", pcm16(120))),
    "stereo16.wav": riff(chunk(b"fmt ", fmt(ch=2)) + chunk(b"data", pcm16(100, 32767, 2))),
    "stereo8.wav": riff(chunk(b"fmt ", fmt(ch=2, bits=8)) + chunk(b"data", bytes((128 + (i * 7) % 100) for i in range(160)))),
    "wrong_data_size.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", pcm16(40), size=0x7FFFFFF0) + chunk(b"LIST", b"INFOINAM\x05\0\0\0tone\0\0")),
    "two_fmt.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"fmt ", fmt(ch=2, bits=8)) + chunk(b"data", pcm16(20))),
    "empty_data.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", b"")),
    "no_data.wav": riff(chunk(b"fmt ", fmt())),
    "no_fmt.wav": riff(chunk(b"data", pcm16(20))),
    "align0.wav": riff(chunk(b"fmt ", fmt(align=0)) + chunk(b"data", pcm16(20))),
    "short_fmt.wav": riff(chunk(b"fmt ", b"\x01\0\x01\0")),
    "riff_too_long.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", pcm16(30)), size=1 << 30),
    "riff_too_short.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", pcm16(30), size=0), size=36),
    "fact_disp.wav": riff(chunk(b"fmt ", fmt(tag=2, ch=1, rate=8000, bits=4, align=256, avg=4096, extra=b"\x02\0\xf4\x01"))
                          + chunk(b"fact", struct.pack("<I", 500)) + chunk(b"DISP", struct.pack("<I", 1) + b"hello\0")
                          + chunk(b"data", bytes(512))),
    "odd_chunk.wav": riff(chunk(b"junk", b"abc") + chunk(b"fmt ", fmt(bits=8)) + chunk(b"data", bytes(range(0, 255, 3)))),
    "adpcm_stereo.wav": riff(chunk(b"fmt ", fmt(tag=2, ch=2, rate=22050, bits=4, align=64, avg=11025, extra=b"\x20\0"
                              + struct.pack("<HH", 52, 7) + struct.pack("<14h", 256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232)))
                              + chunk(b"data", bytes([1, 6, 0x10, 0, 0x7f, 0x7f, 0, 1, 0x80, 0x80, 0, 0, 0xff, 0xff]) + bytes(range(50)) + bytes(64 + 20))),
    "adpcm_bad_coef.wav": riff(chunk(b"fmt ", fmt(tag=2, ch=1, rate=8000, bits=4, align=256, avg=4096, extra=b"\x20\0\xf4\x01\x07\0"))
                              + chunk(b"data", bytes(300))),
    "text.txt": b"This is a plain text file, not a wave file.\n",
    "truncated.wav": riff(chunk(b"fmt ", fmt()) + chunk(b"data", pcm16(30)))[:40],
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {out}")
