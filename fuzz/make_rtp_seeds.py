#!/usr/bin/env python3
"""Writes the seed corpus of the RTP fuzzer into corpus/rtp: runs of packets of
one stream (format bytes, then 2-byte lengths and packets) with losses,
duplicates, reordering, a new sender and broken packets."""
import os, struct

here = os.path.dirname(os.path.abspath(__file__))

def packet(seq, ts, frames=48, ch=2, width=3, pt=96, ssrc=0x11223344, first=0x80, extra=b""):
    return struct.pack("!BBHII", first, pt, seq & 0xFFFF, ts & 0xFFFFFFFF, ssrc) + extra + bytes(range(256)) * 0 + \
        bytes((i * 37) & 0xFF for i in range(frames * ch * width))

def run(fmt, packets):
    out = bytes(fmt)
    for p in packets:
        out += struct.pack("!H", len(p)) + p
    return out

l24_2 = (96, 1, 1)        # pt 96, L24 48 kHz, 2 channels
l16_8 = (97, 2, 7)        # pt 97, L16 44.1 kHz, 8 channels
seeds = {
    "in_order_l24.rtp": run(l24_2, [packet(s, s * 48) for s in range(8)]),
    "lost_dup_reordered.rtp": run(l24_2, [packet(s, s * 48) for s in (0, 1, 3, 3, 2, 5, 4, 9)]),
    "wrap_and_new_sender.rtp": run(l24_2, [packet(65534, 0), packet(65535, 48), packet(0, 96),
                                          packet(7, 5000, ssrc=9), packet(8, 5048, ssrc=9)]),
    "l16_8ch_ptime_4.rtp": run(l16_8, [packet(s, s * 176, frames=176, ch=8, width=2, pt=97) for s in range(3)]),
    "padding_csrc_extension.rtp": run(l24_2, [packet(1, 48, first=0xA0) + b"\x00\x00\x03",
                                             packet(2, 96, first=0x81, extra=b"\x01\x02\x03\x04"),
                                             packet(3, 144, first=0x90, extra=b"\xbe\xde\x00\x01\x00\x00\x00\x00")]),
    "broken.rtp": run(l24_2, [b"\x80\x60\x00", packet(1, 0, pt=0), packet(2, 48)[:-1], packet(3, 96, first=0x40),
                              packet(4, 144, frames=300)]),
    "jumps.rtp": run(l24_2, [packet(1, 0), packet(2, 48 + 96000), packet(3, 48 + 96000 + 24), packet(4, 10)]),
}
os.makedirs(os.path.join(here, "corpus", "rtp"), exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, "corpus", "rtp", name), "wb") as f:
        f.write(data)
