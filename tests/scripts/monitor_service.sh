#!/usr/bin/env bash
# Whole program with the monitoring service on simulated inputs: input 3
# (strips 5 and 6) is gated 4 s on / 9 s off, the others steady tones;
# threshold -40 dBFS, alarm delay 2 s, 8 channels. While input 3 is silent
# GET /status shows strips 5 and 6 in alarm and the rest sounding, /metrics
# parses as Prometheus text, the alarm command ran with the event's
# environment and the journal holds the devices' opening, alarm and restored lines. With
# --headless (no display at all), hostile clients (garbage, 1 MB of headers,
# 200 idle connections) follow, /status must still answer, the bars must
# still get every block (937.5/s at 48 kHz), and SIGTERM saves the settings.
# Usage: monitor_service.sh BUILD_DIR [--headless]
set -u
build=${1:?build folder}
mode=${2:-}
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
cmd="/bin/sh -c 'env | grep ^TARVOLIN_ | sort > \"\$0/\$TARVOLIN_EVENT-\$TARVOLIN_STRIP.env\"' $tmp"
if [ "$mode" = --headless ]; then
  extra=(--headless --stats --set Samplerate=1); unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
else
  extra=(--run-for 20)
fi
"$exe" --audio simulated --settings "$tmp/s.reg" --set "is Sound=1" --set "rg Mode=2" \
  --set multi_1=0 --set multi_2=1 --set multi_3=2 --set multi_4=3 \
  --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2" \
  --set "Action Alarm Command=$cmd" --set "Recovery Seconds=0" \
  --sim-input 3=gated:997:-6:4000:9000 --status-port "$port" "${extra[@]}" \
  >"$tmp/out.txt" 2>"$tmp/err.txt" &
pid=$!

python3 - "$port" <<'PY' || fail "status checks"
import json, re, sys, time, urllib.request
port = int(sys.argv[1])
def get(path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=5) as r:
        return r.status, r.headers.get("Content-Type"), r.read().decode()
deadline = time.time() + 25
status = None
while time.time() < deadline:
    try:
        code, ctype, body = get("/status")
        status = json.loads(body)
        if status["strips"][4]["state"] == "alarm" and status["strips"][5]["state"] == "alarm":
            break
    except OSError:
        pass
    time.sleep(0.3)
else:
    sys.exit(f"strips 5 and 6 never in alarm: {status}")
assert ctype == "application/json", ctype
strips = status["strips"]
for s in strips:
    n = s["strip"]
    if n in (5, 6):
        assert s["level_dbfs"] is None or s["level_dbfs"] < -40, s
        assert s["episodes"] == 1 and s["last_alarm"], s
        assert s["silent_seconds"] >= 2, s
    elif n <= 8:
        assert s["watched"] and s["state"] == "sounding", s
        assert s["level_dbfs"] > -40 and s["episodes"] == 0, s
    else:
        assert not s["watched"] and s["state"] == "unwatched", s
rec = status["recorders"]
assert [r["running"] for r in rec[:4]] == [True] * 4 and not any(r["running"] for r in rec[4:]), rec
assert all(r["reopens"] == 0 for r in rec)
code, ctype, text = get("/metrics")
assert ctype.startswith("text/plain; version=0.0.4"), ctype
sample = re.compile(r'^[a-zA-Z_:][a-zA-Z0-9_:]*(\{[a-zA-Z_][a-zA-Z0-9_]*="(\\.|[^"\\\n])*"(,[a-zA-Z_][a-zA-Z0-9_]*="(\\.|[^"\\\n])*")*\})? (-?[0-9.]+(e[-+]?[0-9]+)?|[+-]Inf|NaN)$')
typed = set()
for line in text.splitlines():
    if line.startswith("# TYPE "):
        typed.add(line.split()[2])
    elif not line.startswith("#"):
        assert sample.match(line), line
        assert line.split("{")[0].split(" ")[0] in typed, line
assert 'tarvolin_alarm{strip="5",label=""} 1' in text, text
assert 'tarvolin_alarm{strip="1",label=""} 0' in text
# Read-only: other methods and paths are refused.
req = urllib.request.Request(f"http://127.0.0.1:{port}/status", data=b"{}", method="POST")
try:
    urllib.request.urlopen(req, timeout=5)
    sys.exit("POST accepted")
except urllib.error.HTTPError as e:
    assert 400 <= e.code < 500, e.code
print("status ok:", [s["state"] for s in strips[:8]])
PY

if [ "$mode" = --headless ]; then
  python3 - "$port" <<'PY' || fail "hostile clients"
import socket, sys, time, urllib.request
port = int(sys.argv[1])
def conn():
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    return s
def exchange(data):
    s = conn()
    out = b""  # the server may close on the first bytes: the send fails, the reply is empty
    try:
        s.sendall(data)
        s.settimeout(5)
        while True:
            b = s.recv(65536)
            if not b: break
            out += b
    except OSError:
        pass
    finally:
        s.close()
    return out
t0 = time.time()
exchange(b"\x16\x03\x01\x02\x00" + b"A" * 5000 + b"\r\n\r\n")
reply = exchange(b"GET /status HTTP/1.1\r\nHost: x\r\n" + (b"X-Fill: " + b"z" * 1000 + b"\r\n") * 1024 + b"\r\n")
assert not reply.startswith(b"HTTP/1.1 200"), "1 MB of headers answered"
idle = []
for _ in range(200):
    try:
        idle.append(conn())
    except OSError:
        pass
time.sleep(0.5)
t = time.time()
with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=5) as r:
    assert r.status == 200
took = time.time() - t
for s in idle: s.close()
assert took < 1.0, f"/status took {took:.2f} s beside 200 idle connections"
print(f"hostile clients done in {time.time() - t0:.1f} s; /status beside them in {took * 1000:.0f} ms")
PY
fi

# Sound comes back at 13 s: the journal gets the restored lines.
for _ in $(seq 1 100); do
  [ "$(cat "$tmp"/data/Tarvolin/journal/*.log 2>/dev/null | grep -c ' restored strip=')" -ge 2 ] && break
  sleep 0.2
done
if [ "$mode" = --headless ]; then
  kill -TERM "$pid"
fi
wait "$pid"; rc=$?; pid=
[ "$rc" -eq 0 ] || fail "exit status $rc"
journal=$(cat "$tmp"/data/Tarvolin/journal/*.log)
echo "$journal"
for n in 5 6; do
  grep -qE " alarm strip=$n label=\"\" level_db=(-inf|-[0-9.]+) silent_s=[0-9.]+$" <<<"$journal" || fail "no alarm line for strip $n"
  grep -qE " restored strip=$n label=\"\" level_db=-[0-9.]+ silent_s=[0-9.]+$" <<<"$journal" || fail "no restored line for strip $n"
  env=$tmp/alarm-$n.env
  [ -f "$env" ] || fail "the alarm command did not run for strip $n"
  grep -qx "TARVOLIN_STRIP=$n" "$env" && grep -qx "TARVOLIN_EVENT=alarm" "$env" \
    && grep -qE "^TARVOLIN_SILENT_SECONDS=[0-9]+\.[0-9]$" "$env" && grep -q "^TARVOLIN_TIME=20" "$env" \
    || fail "environment: $(cat "$env")"
done
# One alarm line per episode (input 3 is silent 9 s in every 13 s), a restored line after each.
for n in 5 6; do
  a=$(grep -c " alarm strip=$n " <<<"$journal"); r=$(grep -c " restored strip=$n " <<<"$journal")
  [ "$a" -le 2 ] && [ "$r" -le "$a" ] && [ "$r" -ge $((a - 1)) ] || fail "strip $n: $a alarm and $r restored lines"
done
# Each of the four recorders in use logged its device's opening.
for k in 1 2 3 4; do
  grep -qE " device recorder=$k event=opened name=\"Simulated input $k\"$" <<<"$journal" || fail "no opened line for recorder $k"
done
[ "$(grep -cvE ' ((alarm|restored) strip=[56]|device recorder=[1-4] event=opened) ' <<<"$journal")" -eq 0 ] || fail "lines of other strips"
if [ "$mode" = --headless ]; then
  json=$(tail -1 "$tmp/out.txt")
  python3 - "$json" <<'PY' || fail "metering rate: $json"
import json, sys
s = json.loads(sys.argv[1])
assert s["sample_rate"] == 48000, s["sample_rate"]
rates = [b / s["seconds"] for b in s["blocks"][:8]]
print("blocks/s per bar:", " ".join(f"{r:.1f}" for r in rates), "cpu", f'{100 * s["cpu_seconds"] / s["seconds"]:.1f} %')
assert all(r > 925 for r in rates), rates  # start and stop cost a buffer (43 ms) or two
# Every delivered buffer reached both bars of its recorder: 2048 frames = 40 blocks.
for n in range(8):
    assert s["blocks"][n] >= 40 * (s["buffers"][n // 2] - 1), (n, s["blocks"][n], s["buffers"][n // 2])
assert s["dropped_buffers"] == 0
PY
  grep -qi "Action Alarm Command" "$tmp/s.reg" || fail "settings not saved"
  grep -q '"Window Left"' "$tmp/s.reg" || fail "exit values not saved"
fi
echo OK
