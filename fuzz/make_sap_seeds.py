#!/usr/bin/env python3
"""Writes the seed corpus of the SAP/SDP fuzzer into corpus/sap_sdp: SAP packets
announcing and deleting AES67-style streams, and a few broken ones."""
import os, struct

here = os.path.dirname(os.path.abspath(__file__))

def sdp(name="Stage box 1", sess=1423986, ver=1423994, origin="169.254.98.63", group="239.69.1.1",
        port=5004, pt=97, enc="L24", rate=48000, ch=2, ptime="1", extra="", eol="\r\n"):
    lines = ["v=0", f"o=- {sess} {ver} IN IP4 {origin}", f"s={name}", f"c=IN IP4 {group}/32", "t=0 0",
             f"m=audio {port} RTP/AVP {pt}", "a=recvonly", f"a=rtpmap:{pt} {enc}/{rate}/{ch}"]
    if ptime is not None:
        lines.append(f"a=ptime:{ptime}")
    lines += ["a=ts-refclk:ptp=IEEE1588-2008:00-1D-C1-FF-FE-0E-10-C4:domain-nr=0", "a=mediaclk:direct=0"]
    return (eol.join(lines) + eol + extra).encode()

def sap(payload, hash_=0x1234, source=b"\xc0\xa8\x01\x14", deletion=False, with_type=True, auth=b"",
        flags=0):
    ipv6 = len(source) == 16
    first = 0x20 | (0x10 if ipv6 else 0) | (0x04 if deletion else 0) | flags
    head = struct.pack("!BBH", first, len(auth) // 4, hash_) + source + auth
    return head + (b"application/sdp\0" if with_type else b"") + payload

v6 = bytes.fromhex("fe800000000000000000000000000001")
seeds = {
    "ptime_1_l24_2ch.sap": sap(sdp()),
    "ptime_0125_l24_8ch.sap": sap(sdp(name="Console out", ch=8, ptime="0.125", sess=77), hash_=0x0101),
    "ptime_4_l16_2ch_44k.sap": sap(sdp(name="Recorder", enc="L16", rate=44100, ptime="4"), with_type=False),
    "ptime_0333_lf.sap": sap(sdp(ptime="0.333", eol="\n"), hash_=7),
    "framecount_source_filter.sap": sap(sdp(ptime=None, extra="a=framecount:48\r\n"
                                            "a=source-filter: incl IN IP4 239.69.1.1 192.168.1.20\r\n")),
    "deletion_origin_only.sap": sap(b"o=- 1423986 1423994 IN IP4 169.254.98.63\r\n", hash_=0, deletion=True),
    "deletion_full.sap": sap(sdp(), deletion=True),
    "ipv6_source.sap": sap(sdp(name="-"), source=v6, with_type=False),
    "auth_words.sap": sap(sdp(), auth=b"\x01\x02\x03\x04" * 3),
    "hash_zero.sap": sap(sdp(), hash_=0),
    "l32_refused.sap": sap(sdp(enc="L32")),
    "encrypted.sap": sap(sdp(), flags=0x02),
    "plain_sdp.sdp": sdp(name="Direct file", ch=64, ptime="0.25"),
}
d = os.path.join(here, "corpus", "sap_sdp")
os.makedirs(d, exist_ok=True)
for fname, data in seeds.items():
    with open(os.path.join(d, fname), "wb") as f:
        f.write(data)
print(f"{len(seeds)} seeds in {d}")
