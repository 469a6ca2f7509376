#!/usr/bin/env python3
"""Writes the seed corpora of the RIFF/WAVE, alarm file, settings file and status HTTP fuzzers
into corpus/NAME (small valid and broken inputs). Kept as they are, not written here:
corpus/wave/short.flac and short.ogg (written by libsndfile once) and the inputs fuzzing
found faults with (corpus/alarm_file/ogg_unknown_length.ogg)."""
import ctypes, ctypes.util, math, os, struct

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus", "wave")
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
wave_seeds = seeds


def write_corpus(name, files):
    d = os.path.join(here, "corpus", name)
    os.makedirs(d, exist_ok=True)
    for fname, data in files.items():
        with open(os.path.join(d, fname), "wb") as f:
            f.write(data)
    print(f"{len(files)} seeds in {d}")


def tiny_mp3():
    """A 0.1 s MPEG layer III file from libsndfile (LAME); None when it cannot write one."""
    lib = ctypes.util.find_library("sndfile")
    if not lib:
        return None
    sf = ctypes.CDLL(lib)
    class Info(ctypes.Structure):
        _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                    ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]
    sf.sf_open.restype = ctypes.c_void_p
    sf.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Info)]
    sf.sf_writef_short.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_short), ctypes.c_int64]
    sf.sf_close.argtypes = [ctypes.c_void_p]
    path = os.path.join(here, "corpus", ".tiny.mp3")
    info = Info(0, 8000, 1, 0x230000 | 0x0082, 0, 0)  # SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III
    f = sf.sf_open(path.encode(), 0x20, ctypes.byref(info))  # SFM_WRITE
    if not f:
        return None
    n = 800
    pcm = (ctypes.c_short * n)(*[int(8000 * math.sin(i / 3)) for i in range(n)])
    sf.sf_writef_short(f, pcm, n)
    sf.sf_close(f)
    with open(path, "rb") as fh:
        data = fh.read()
    os.unlink(path)
    return data


# Alarm files: the first byte picks the name's extension (0 .wav, 1 .mp3, 2 .flac,
# 3 .ogg, 4 .oga, 5 .MP3, 6 none), the rest is the file.
def kept(name):
    with open(os.path.join(out, name), "rb") as f:
        return f.read()

alarm = {
    "mono16.wav": b"\0" + wave_seeds["mono16.wav"],
    "stereo8_noext": b"\6" + wave_seeds["stereo8.wav"],
    "adpcm_stereo.wav": b"\0" + wave_seeds["adpcm_stereo.wav"],
    "adpcm_mono.wav": b"\0" + riff(chunk(b"fmt ", fmt(tag=2, ch=1, rate=8000, bits=4, align=32, avg=4000,
                                      extra=b"\x20\0" + struct.pack("<HH", 52, 2) + struct.pack("<4h", 256, 0, 512, -256)))
                                      + chunk(b"data", bytes([1, 0x40, 0, 0x10, 0, 0xf0, 0xff]) + bytes(range(25)) * 3 + bytes(7))),
    "pcm24.wav": b"\0" + riff(chunk(b"fmt ", fmt(ch=2, bits=24)) + chunk(b"data", bytes(range(240)))),
    "mp3_in_wave.wav": b"\0" + riff(chunk(b"fmt ", fmt(tag=0x55, ch=2, rate=44100)) + chunk(b"data", bytes(400))),
    "wave_as.mp3": b"\1" + wave_seeds["stereo16.wav"],
    "short.flac": b"\2" + kept("short.flac"),
    "short.ogg": b"\3" + kept("short.ogg"),
    "short.oga": b"\4" + kept("short.ogg"),
    "garbage.MP3": b"\5" + bytes(range(256)) * 4,
    "truncated.wav": b"\0" + wave_seeds["truncated.wav"],
}
mp3 = tiny_mp3()
if mp3:
    alarm["tiny.mp3"] = b"\1" + mp3
    alarm["tiny_cut.mp3"] = b"\1" + mp3[: len(mp3) // 2]
write_corpus("alarm_file", alarm)

# The per-user settings file.
H = b"Windows Registry Editor Version 5.00\n\n"
K = b"[HKEY_CURRENT_USER\\Verholt-Products\\Tarvolin]\n"
settings = {
    "typical.reg": H + K + b'"Window Left"=dword:00000008\n"skin"="/usr/share/tarvolin/skins/iTunes.skn"\n'
                   b'"Label 1"="Vox \\"A\\" \\\\ B"\n@="default"\n',
    "regedit4_crlf.reg": b"REGEDIT4\r\n\r\n" + K.replace(b"\n", b"\r\n") + b'"a"=dword:ffffffff\r\n',
    "utf16.reg": b"\xff\xfe" + (H + K + '"Ä"="ü€😀"\n'.encode()).decode().encode("utf-16-le"),
    "bom.reg": b"\xef\xbb\xbf" + H + K + b'"x"=hex:00,01,ff\n',
    "hex_types.reg": H + K + b'"sz"=hex(1):41,00,0a,00,42,00,00,00\n"ex"=hex(2):25,00,48,00,00,00\n'
                     b'"none"=hex(0):\n"odd"=hex(b):01,02,03\n"dw3"=hex(4):01,02,03\n',
    "continued.reg": H + K + b'"long"=hex:00,01,02,\\\n  03,04,\\\n  05\n',
    "deleted.reg": H + K + b'"a"="1"\n"a"=-\n"B"="2"\n"b"="3"\n[-HKEY_CURRENT_USER\\Other]\n'
                   b'[HKEY_CURRENT_USER\\Other]\n"c"="4"\n[-HKEY_CURRENT_USER\\other]\n',
    "comments.reg": b"; written by hand\n" + H + b"; a comment\n" + K + b"  ; indented\n\t\"t\" = \"tab\"  \n",
    "empty.reg": b"",
    "only_comments.reg": b"; nothing\n\n",
    "no_header.reg": K + b'"a"="b"\n',
    "value_first.reg": H + b'"a"="b"\n',
    "unterminated.reg": H + K + b'"a"="b\n',
    "bad_dword.reg": H + K + b'"a"=dword:123456789\n',
    "surrogate.reg": H + K + b'"a"=hex(1):00,d8,41,00\n',
    "nul_cr.reg": H + K + b'"a"="x\0y\rz"\n',
    "no_newline.reg": H + K + b'"a"="b"',
}
write_corpus("settings", settings)

# Requests to the status endpoint (the input is also the label it renders).
status = {
    "status.txt": b"GET /status HTTP/1.1\r\nHost: x\r\n\r\n",
    "metrics.txt": b"GET /metrics HTTP/1.0\r\n\r\n",
    "pipelined.txt": b"GET /status HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\nGET /x HTTP/1.1\r\n\r\n",
    "post.txt": b"POST /status HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
    "chunked.txt": b"GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
    "missing.txt": b"GET /nothing HTTP/1.0\r\n\r\n",
    "query.txt": b"GET /status?x=1&y=%41%zz HTTP/1.1\r\nConnection: close\r\n\r\n",
    "label.txt": b'GET /metrics HTTP/1.1\r\nX-Label: "q" \\ \xc3\xa9 \x01\r\n\r\n',
    "head.txt": b"HEAD /status HTTP/1.1\r\n\r\n",
    "no_end.txt": b"GET /status HTTP/1.1\r\nHost: x\r\n",
    "garbage.txt": bytes(range(256)),
    "absolute.txt": b"GET http://127.0.0.1/status HTTP/1.1\r\n\r\n",
}
write_corpus("status_http", status)
