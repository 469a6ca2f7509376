#!/usr/bin/env python3
"""Test sender of RTP L16/L24 audio and SAP announcements (loopback or a test's
own network namespace only).

  tv-rtp-send.py --group G --port P [--channels N] [--bits 24] [--rate 48000]
                 [--ptime-us 1000] [--ppm X] [--drop-every K] [--pause-at S --pause-for S]
                 [--seconds S] [--levels DB,DB,...] [--sap-sdp FILE --sap-every S]
                 [--iface-addr 127.0.0.1] [--report FILE]

Channel c carries a 997 Hz sine at levels[c] dBFS (the last level repeats).
--ppm runs the sender's sample clock that far off nominal; --drop-every K
leaves out every K-th packet (its sequence number and timestamp pass by)
from --drop-after seconds on;
--pause-at/--pause-for stop sending for a while; --silent-until sends
digital silence until then (the report gives the wall time of the step). With --sap-sdp the SDP
file is announced over SAP to 239.255.255.255:9875 every --sap-every
seconds (deleted at the end). --report writes the packets sent and dropped
as JSON at exit.
"""
import argparse
import json
import math
import random
import signal
import socket
import struct
import time


def sap_packet(sdp, hash_, source, deletion=False):
    flags = 0x20 | (0x04 if deletion else 0)  # version 1, IPv4
    head = struct.pack("!BBH4s", flags, 0, hash_, socket.inet_aton(source))
    return head + b"application/sdp\0" + sdp.encode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--group", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--channels", type=int, default=2)
    ap.add_argument("--bits", type=int, default=24, choices=(16, 24))
    ap.add_argument("--rate", type=int, default=48000)
    ap.add_argument("--pt", type=int, default=96)
    ap.add_argument("--ptime-us", type=int, default=1000)
    ap.add_argument("--ppm", type=float, default=0.0)
    ap.add_argument("--drop-every", type=int, default=0)
    ap.add_argument("--drop-after", type=float, default=0.0)
    ap.add_argument("--pause-at", type=float, default=-1)
    ap.add_argument("--pause-for", type=float, default=0)
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--levels", default="-12")
    ap.add_argument("--sap-sdp")
    ap.add_argument("--sap-every", type=float, default=2.0)
    ap.add_argument("--sap-start", type=float, default=0.0)
    ap.add_argument("--iface-addr", default="127.0.0.1")
    ap.add_argument("--silent-until", type=float, default=0.0)
    ap.add_argument("--report")
    a = ap.parse_args()

    levels = [float(x) for x in a.levels.split(",")]
    amps = [10 ** (levels[min(c, len(levels) - 1)] / 20) for c in range(a.channels)]
    frames = a.rate * a.ptime_us // 1000000
    full = (1 << (a.bits - 1)) - 1
    width = a.bits // 8
    # One second of each channel's samples, big-endian, as bytes per frame.
    period = a.rate
    table = []
    for f in range(period):
        row = b""
        for c in range(a.channels):
            v = int(round(amps[c] * full * math.sin(2 * math.pi * 997 * f / a.rate)))
            row += v.to_bytes(width, "big", signed=True)
        table.append(row)

    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(a.iface_addr))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    sdp = open(a.sap_sdp).read() if a.sap_sdp else None
    hash_ = random.randrange(1, 65536)

    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    seq = random.randrange(65536)
    ts = random.randrange(1 << 32)
    ssrc = random.randrange(1 << 32)
    interval = frames / (a.rate * (1 + a.ppm * 1e-6))
    start = time.monotonic()
    next_sap = start + a.sap_start
    stats = {}
    sent = dropped = paused_packets = 0
    last_dropped = False
    pos = 0
    k = 0
    while not stop:
        due = start + k * interval
        now = time.monotonic()
        if sdp and now >= next_sap:
            s.sendto(sap_packet(sdp, hash_, a.iface_addr), ("239.255.255.255", 9875))
            next_sap += a.sap_every
        if due - start >= a.seconds and not last_dropped:
            break
        if due > now:
            time.sleep(min(due - now, 0.01))
            continue
        paused = a.pause_at >= 0 and a.pause_at <= due - start < a.pause_at + a.pause_for
        k += 1
        if due - start < a.silent_until:
            payload = bytes(frames * a.channels * width)
        else:
            if "step_wall" not in stats:
                stats["step_wall"] = time.time()
            payload = b"".join(table[(pos + f) % period] for f in range(frames))
        header = struct.pack("!BBHII", 0x80, a.pt, seq & 0xFFFF, ts & 0xFFFFFFFF, ssrc)
        last_dropped = False
        if paused:
            paused_packets += 1
        elif a.drop_every and k % a.drop_every == 0 and due - start >= a.drop_after:
            dropped += 1
            last_dropped = True
        else:
            s.sendto(header + payload, (a.group, a.port))
            sent += 1
        seq += 1
        ts += frames
        pos = (pos + frames) % period
    if sdp:
        s.sendto(sap_packet(sdp, hash_, a.iface_addr, deletion=True), ("239.255.255.255", 9875))
    if a.report:
        with open(a.report, "w") as f:
            json.dump(dict(stats, sent=sent, dropped=dropped, paused=paused_packets, packets=k,
                           frames_per_packet=frames), f)


if __name__ == "__main__":
    main()
