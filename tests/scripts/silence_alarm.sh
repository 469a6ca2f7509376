#!/usr/bin/env bash
# Whole program, offscreen: the silence detector on simulated inputs. Input 3
# (strips 5 and 6) is gated 4 s on / 9 s off, every other input a steady
# tone; threshold -40 dBFS, alarm delay 2 s, 8 channels, 26 s: two silence
# episodes with one log line each on strips 5 and 6, nothing elsewhere. The
# alarm sound is a generated 1500 Hz WAVE file played on the simulated output,
# whose capture must hold that tone, loud, once per pause of 10 s (twice).
# A second run with an output device that does not exist reports the failing
# sound and ends normally.
# Usage: silence_alarm.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; exit 1; }
command -v python3 >/dev/null || { echo "python3 missing"; exit 77; }

# The alarm sound: 0.5 s of 1500 Hz at -6 dBFS, 16-bit stereo 44100 Hz.
alarm=$tmp/alarm.wav
python3 - "$alarm" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    frames = bytearray()
    for i in range(22050):
        v = round(16384 * math.sin(2 * math.pi * 1500 * i / 44100))
        frames += struct.pack("<hh", v, v)
    w.writeframes(bytes(frames))
PY

log=$tmp/log.txt
timeout 90 "$exe" --audio simulated --settings "$tmp/s.reg" --set "is Sound=1" --set "rg Mode=2" \
  --set multi_1=0 --set multi_2=1 --set multi_3=2 --set multi_4=3 \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --set "arlam file=$alarm" --set out=0 \
  --sim-input 3=gated:997:-6:4000:9000 --log-out "$log" --run-for 26 --stats \
  --sim-output-capture "$tmp/played.wav" \
  >"$tmp/stats.json" 2>"$tmp/err.txt" || fail "run exited with $? ($(tail -3 "$tmp/err.txt"))"
json=$(tail -1 "$tmp/stats.json")
echo "$json"
array() { sed "s/.*\"$1\":\[\([^]]*\)\].*/\1/" <<<"$json"; }
silences=$(array silences)
alarms=$(array alarms)
[ "$silences" = "0,0,0,0,2,2$(printf ',0%.0s' {1..18})" ] || fail "silence episodes per strip: $silences"
n=0
for a in ${alarms//,/ }; do
  n=$((n + 1))
  if [ $n -eq 5 ] || [ $n -eq 6 ]; then [ "$a" -gt 0 ] || fail "strip $n never alarmed: $alarms"
  else [ "$a" -eq 0 ] || fail "strip $n alarmed: $alarms"; fi
done
grep -q '"log_lines":4' <<<"$json" || fail "expected 4 log lines"
[ "$(wc -l <"$log")" -eq 4 ] || fail "--log-out holds $(wc -l <"$log") lines"
[ "$(grep -cE '^Level [56] : - .*-   -Inf dB  --> Time: .+' "$log")" -eq 4 ] \
  || fail "log lines malformed: $(cat "$log")"
[ "$(grep -c '^Level 5 ' "$log")" -eq 2 ] || fail "strip 5 lines: $(cat "$log")"

# What the output played: the alarm file's tone, loud, two playings.
python3 - "$tmp/played.wav" <<'PY' || fail "captured output"
import math, struct, sys, wave
with wave.open(sys.argv[1], "rb") as w:
    rate, ch = w.getframerate(), w.getnchannels()
    raw = w.readframes(w.getnframes())
left = [struct.unpack_from("<h", raw, i)[0] for i in range(0, len(raw) - 1, 2 * ch)]
peak = max((abs(v) for v in left), default=0)
peak_db = 20 * math.log10(peak / 32768) if peak else float("-inf")
seconds = len(left) / rate
ups = sum(1 for a, b in zip(left, left[1:]) if a < 0 <= b)
hz = ups / seconds if seconds else 0
print(f"played {seconds:.3f} s, peak {peak_db:.2f} dBFS, {hz:.1f} Hz")
ok = peak_db > -20 and abs(hz - 1500) < 15 and 0.95 <= seconds <= 1.2
sys.exit(0 if ok else 1)
PY

# The same alarm on an output device that does not exist: each alarm tick
# reports the failing sound and writes no log line; the program runs on.
timeout 60 "$exe" --audio simulated --settings "$tmp/s2.reg" --set "is Sound=1" --set "rg Mode=0" \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --set "arlam file=$alarm" --set out=7 --sim-input 1=silence --run-for 8 --stats \
  --sim-output-capture "$tmp/played2.wav" \
  >"$tmp/stats2.json" 2>"$tmp/err2.txt" || fail "broken output: run exited with $? ($(tail -3 "$tmp/err2.txt"))"
json=$(tail -1 "$tmp/stats2.json")
grep -q '"log_lines":0' <<<"$json" || fail "broken output: expected no log line: $json"
[ "$(array alarms | cut -d, -f1)" -gt 0 ] || fail "broken output: strip 1 never alarmed: $json"
grep -q 'Invalid DeviceID' "$tmp/err2.txt" || fail "broken output: no error shown: $(cat "$tmp/err2.txt")"
echo OK
