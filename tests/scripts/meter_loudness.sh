#!/usr/bin/env bash
# tarvolin-meter --loudness and --ballistics standard on files made here.
set -euo pipefail
build=$1
tool=$build/tarvolin-meter
[ -x "$tool" ] || { echo "no $tool"; exit 77; }
command -v python3 >/dev/null || exit 77
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

python3 - "$dir" <<'PY'
import math, struct, sys, wave
d = sys.argv[1]
def write(name, frames, ch=2, rate=48000):
    w = wave.open(f"{d}/{name}", "wb"); w.setnchannels(ch); w.setsampwidth(2); w.setframerate(rate)
    w.writeframes(b"".join(struct.pack("<" + "h" * ch, *f) for f in frames)); w.close()
a = 32767 * 10 ** (-23 / 20)
write("sine.wav", [(round(a * math.sin(2 * math.pi * 1000 * i / 48000)),) * 2 for i in range(48000 * 20)])
# 0.5 ms 5 kHz burst at -6 dBFS in 1 s of silence, mono
b = 16384
write("burst.wav", [(round(b * math.sin(2 * math.pi * 5000 * i / 48000)) if i < 24 else 0,) for i in range(48000)], ch=1)
write("steady.wav", [(round(b * math.sin(2 * math.pi * 5000 * i / 48000)),) for i in range(48000)], ch=1)
PY

out=$("$tool" --loudness "$dir/sine.wav")
echo "$out"
grep -q '^integrated loudness: -23.0[0-9] LUFS$\|^integrated loudness: -22.9[0-9] LUFS$' <<<"$out"
json=$("$tool" --loudness --json "$dir/sine.wav")
echo "$json"
python3 -c 'import json,sys; j=json.loads(sys.argv[1]); assert abs(j["integrated_lufs"]+23)<0.1, j; assert j["channels"]==2' "$json"

# --json alone is a usage error
if "$tool" --json "$dir/sine.wav" 2>/dev/null; then exit 1; fi
if "$tool" --ballistics fast "$dir/sine.wav" 2>/dev/null; then exit 1; fi

# BBC as Type II: the 0.5 ms burst reads far below steady; as preset it reads at steady level.
maxlevel() { "$tool" --standard "$1" --ballistics "$2" --blocks "$3" | awk -F, 'NR>1 && $3>m {m=$3} END {print m+0}'; }
std=$(maxlevel 2 standard "$dir/steady.wav"); bst=$(maxlevel 2 standard "$dir/burst.wav")
pre=$(maxlevel 2 preset "$dir/steady.wav"); bpre=$(maxlevel 2 preset "$dir/burst.wav")
echo "standard: steady $std burst $bst; preset: steady $pre burst $bpre"
python3 -c 'import sys; s,b,p,q=map(float,sys.argv[1:]); assert b < 0.8*s and q > 0.95*p' "$std" "$bst" "$pre" "$bpre"
echo ok
