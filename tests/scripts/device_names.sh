#!/usr/bin/env bash
# Devices remembered by name, whole program on simulated inputs: recorder 1's
# device was stored at position 0 under the name "Simulated input 5" (it is
# metered from input 5, at -12 dBFS); recorder 2's device "USB Mic" is not
# connected: its strips stay dark, GET /status shows it as not connected, no
# other device is metered in its place, the cause is told once, and the
# silence detector (on) alarms for the dark strips as for silence.
# Usage: device_names.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
command -v python3 >/dev/null || { echo "python3 missing"; exit 77; }
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }; rm -rf "$tmp"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
chmod 700 "$tmp"
fail() { echo "FAIL: $*"; [ -f "$tmp/err.txt" ] && tail -5 "$tmp/err.txt"; exit 1; }

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$exe" --audio simulated --settings "$tmp/s.reg" --set "is Sound=1" --set "rg Mode=1" \
  --set multi_1=0 --set "multi_1 name=Simulated input 5" --set multi_2=1 --set "multi_2 name=USB Mic" \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --sim-input 5=sine:997:-12 --status-port "$port" --run-for 8 --stats >"$tmp/out.txt" 2>"$tmp/err.txt" &
pid=$!
python3 - "$port" <<'PY' || fail "status"
import json, sys, time, urllib.request
port = int(sys.argv[1])
deadline = time.time() + 15
while True:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=5) as r:
            s = json.loads(r.read().decode())
        if (s["strips"][0]["peak_dbfs"] or -200) > -20:
            break
    except OSError:
        pass
    if time.time() > deadline:
        sys.exit("strip 1 never showed input 5")
    time.sleep(0.3)
rec = s["recorders"]
print(rec[0], rec[1], sep="\n")
assert rec[0]["device"] == "Simulated input 5", rec[0]
assert rec[1]["device"] == "USB Mic (not connected)", rec[1]
assert not rec[1]["running"], rec[1]
assert abs(s["strips"][0]["peak_dbfs"] + 12) < 0.5, s["strips"][0]
PY
wait "$pid"; rc=$?; pid=
[ "$rc" -eq 0 ] || fail "exit status $rc"
python3 - "$(tail -1 "$tmp/out.txt")" <<'PY' || fail "stats"
import json, sys
s = json.loads(sys.argv[1])
assert s["blocks"][0] > 0 and s["blocks"][1] > 0, s["blocks"][:4]
assert s["blocks"][2] == 0 and s["blocks"][3] == 0, s["blocks"][:4]
assert s["recorders_running"] == 1, s["recorders_running"]
assert s["alarms"][0] == 0 and s["alarms"][1] == 0, s["alarms"][:4]
assert s["alarms"][2] > 0 and s["alarms"][3] > 0, s["alarms"][:4]
PY
told=$(grep -c 'Input 3&4: device "USB Mic" not connected; its strips stay dark and read silence' "$tmp/err.txt")
[ "$told" -eq 1 ] || fail "the missing device was told $told times"
# The stored choice is kept for the day the device is back.
grep -q '"multi_2 name"="USB Mic"' "$tmp/s.reg" || fail "the missing device's name was not kept: $(grep -i multi_2 "$tmp/s.reg")"
# The same start without a window.
"$exe" --headless --audio simulated --settings "$tmp/s.reg" --sim-input 5=sine:997:-12 --run-for 3 --stats \
  >"$tmp/out2.txt" 2>"$tmp/err2.txt" || fail "headless exit status $?"
python3 - "$(tail -1 "$tmp/out2.txt")" <<'PY' || fail "headless stats"
import json, sys
s = json.loads(sys.argv[1])
assert s["blocks"][0] > 0 and s["blocks"][2] == 0 and s["recorders_running"] == 1, s
PY
grep -q 'Input 3&4: device "USB Mic" not connected' "$tmp/err2.txt" || fail "headless: not told: $(cat "$tmp/err2.txt")"
echo "device_names passed"
