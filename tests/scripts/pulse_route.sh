#!/usr/bin/env bash
# The desktop route, whole program without a window, on a PulseAudio server of
# its own (a null sink whose monitor is the default source, a two-level tone
# played into it): recorder 1 on the device "pulse", recorder 2 on "default",
# both remembered by name at positions that are wrong now. Both meter the
# tone's levels; the server is killed and started again mid-run: both report
# the loss once, come back by themselves, and --stats counts the reopens and
# the time lost. Skipped without pulseaudio, pactl and pacat.
# Usage: pulse_route.sh BUILD_DIR
set -u
exe=${1:?build folder}/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
for c in pulseaudio pactl pacat python3; do command -v $c >/dev/null || { echo "$c is not installed"; exit 77; }; done
tmp=$(mktemp -d)
chmod 700 "$tmp"
export PULSE_RUNTIME_PATH=$tmp/pulse QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
unset PULSE_SERVER PULSE_SOURCE PULSE_SINK
mkdir -m 700 "$PULSE_RUNTIME_PATH"
pid= player=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$player" ] && kill "$player" 2>/dev/null
  pulseaudio --kill 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; tail -8 "$tmp/err.txt" 2>/dev/null; exit 1; }

server() {
  pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=file:"$tmp/pulse.log" \
    --load="module-native-protocol-unix auth-anonymous=1" \
    --load="module-null-sink sink_name=tv_route rate=48000 channels=2" 2>/dev/null || return 1
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-source tv_route.monitor >/dev/null 2>&1 || return 1
  # A 997 Hz tone, left at -12 dBFS, right at -18 dBFS, until the server goes.
  python3 -c '
import math, struct, sys
one = b"".join(struct.pack("<hh", round(8192 * math.sin(2 * math.pi * 997 * i / 48000)),
                           round(4096 * math.sin(2 * math.pi * 997 * i / 48000))) for i in range(48000))
try:
    while True: sys.stdout.buffer.write(one)
except BrokenPipeError:
    pass' | pacat --playback --device=tv_route --rate=48000 --channels=2 --format=s16le 2>/dev/null &
  player=$!
}
server || { echo "pulseaudio does not start"; exit 77; }

ids=$("$exe" --audio portaudio --list-devices 2>/dev/null |
  awk '/^Input/{i=1} /^Output/{i=0} i && $1 >= 0 && ($2=="pulse" || $2=="default") && $3 ~ /^\[/{print $2 "=" $1}')
grep -q '^pulse=' <<<"$ids" && grep -q '^default=' <<<"$ids" || { echo "PortAudio lists no 'pulse' and 'default' inputs"; exit 77; }

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# Positions 5 and 6 are pairs of 'pulse' now: only the names find the devices.
"$exe" --headless --audio portaudio --settings "$tmp/s.reg" --set "is Sound=1" --set "rg Mode=1" --set "Samplerate=1" \
  --set multi_1=5 --set "multi_1 name=pulse" --set multi_2=6 --set "multi_2 name=default" \
  --status-port "$port" --run-for 20 --stats >"$tmp/out.txt" 2>"$tmp/err.txt" &
pid=$!

levels() {
  python3 - "$port" "$1" <<'PY'
import json, sys, time, urllib.request
port, within = int(sys.argv[1]), float(sys.argv[2])
deadline = time.time() + within
last = None
while time.time() < deadline:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=2) as r:
            s = json.loads(r.read().decode())
        last = [x["peak_dbfs"] for x in s["strips"][:4]]
        if all(v is not None for v in last) and all(abs(v - w) < 0.1 for v, w in zip(last, [-12.04, -18.06] * 2)):
            print("levels", last, [r["device"] for r in s["recorders"][:2]])
            sys.exit(0)
    except OSError:
        pass
    time.sleep(0.3)
sys.exit(f"levels {last}")
PY
}
levels 10 || fail "the tone was not metered on both devices"
kill "$player" 2>/dev/null; player=
pulseaudio --kill 2>/dev/null
sleep 2
server || fail "the server did not start again"
for _ in $(seq 60); do [ "$(grep -c ' is back' "$tmp/err.txt")" -ge 2 ] && break; sleep 0.2; done
levels 8 || fail "the tone was not metered again after the server came back"
wait "$pid"; rc=$?; pid=
[ "$rc" -eq 0 ] || fail "exit status $rc"
for k in 1 2; do
  dev=$([ $k -eq 1 ] && echo pulse || echo default)
  n=$(grep -c "Input $((2 * k - 1))&$((2 * k)): device \"$dev\" lost" "$tmp/err.txt")
  [ "$n" -eq 1 ] || fail "recorder $k reported its loss $n times"
  grep -q "Input $((2 * k - 1))&$((2 * k)): device \"$dev\" is back" "$tmp/err.txt" || fail "recorder $k is not back"
done
python3 - "$(tail -1 "$tmp/out.txt")" <<'PY' || fail "stats"
import json, sys
s = json.loads(sys.argv[1])
print("reopens", s["reopens"][:2], "seconds_lost", s["seconds_lost"][:2], "cpu", s["cpu_seconds"], "of", s["seconds"])
assert s["reopens"][:2] == [1, 1], s["reopens"]
assert all(1.0 < x < 12 for x in s["seconds_lost"][:2]), s["seconds_lost"]
assert s["recorders_running"] == 2, s
PY
echo "pulse_route passed"
