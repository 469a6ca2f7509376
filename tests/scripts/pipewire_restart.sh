#!/usr/bin/env bash
# PipeWire restarted under a running meter (headless, whole program): the
# server of its own (pipewire, wireplumber, pipewire-pulse) is stopped for
# 2 s and started again, its null sink loaded and fed again by tv-jack-source
# (see pipewire.sh). One of two runs:
#   pulse  (the default) recorders 1-4 on "pulse (1-2)" ... "pulse (7-8)" of an
#          8-channel sink (PipeWire's PulseAudio layer), recorders 5-12 on a
#          JACK dummy server of their own (tv-jack-source's pairs, JACK's own
#          library)
#   jack   `pw-jack tarvolin`, all twelve recorders on the pairs of a
#          24-channel sink through PipeWire's JACK layer
#          (pipewire_restart_jack.sh)
# The recorders on PipeWire each report the loss once and are back, reading
# their levels within 0.1 dB, within 5 s of the sink's return; --stats count
# one reopen each. The others never stop: no loss reported, no reopen, and
# their buffers keep coming through the restart. The meter must exit at
# --run-for; it is stopped at 40 s if it hangs. Skipped when PipeWire or its
# tools are missing or do not start. PW_KEEP=1 keeps the scratch folder.
# Usage: pipewire_restart.sh BUILD_DIR [pulse|jack]
set -u
build=${1:?build folder}
only=${2:-pulse}
exe=$build/tarvolin
tool=$build/tv-jack-source
root=$(cd "$(dirname "$0")/../.." && pwd)
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
[ -x "$tool" ] || { echo "no $tool (built with JACK only)"; exit 77; }
for c in pw-jack jack_lsp jack_connect jackd pactl python3; do command -v $c >/dev/null || { echo "$c is not installed"; exit 77; }; done
tmp=$(mktemp -d)
chmod 700 "$tmp"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_STATE_HOME=$tmp/state
unset JACK_DEFAULT_SERVER
source "$root/scripts/pipewire-server.sh"
jackd_pid= jsrc= meter=
cleanup() {
  local p
  [ -n "$meter" ] && kill -KILL "$meter" 2>/dev/null
  for p in $jsrc $jackd_pid; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  pipewire_server_stop
  [ -n "${PW_KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
pipewire_server_start "$tmp/run" || { echo "PipeWire does not start here"; exit 77; }
# sink_up: the null sink $sink of $channels channels (the pulse plugin's map
# for that count, so that its stream is not remixed), fed by tv-jack-source.
sink_up() {
  pactl load-module module-null-sink sink_name=$sink channels=$channels rate=48000 \
    channel_map="$(pipewire_alsa_map $channels)" >/dev/null && pipewire_feed "$tool" tv_src "$sink" $channels
}

now() { date +%s.%N; }

# The watcher: /status every 0.1 s as one JSON line per poll (time, buffers,
# reopens, running, peaks) until the meter is gone.
watch() {
  python3 - "$1" >"$2" <<'PY'
import json, sys, time, urllib.request
port, misses = int(sys.argv[1]), 0
while misses < 30:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=1) as r:
            s = json.loads(r.read().decode())
        misses = 0
        print(json.dumps({"t": time.time(), "buffers": [x["buffers"] for x in s["recorders"]],
                          "reopens": [x["reopens"] for x in s["recorders"]],
                          "running": [x["running"] for x in s["recorders"]],
                          "devices": [x["device"] for x in s["recorders"]],
                          "peaks": [x["peak_dbfs"] for x in s["strips"]]}), flush=True)
    except (OSError, ValueError):
        misses += 1
    time.sleep(0.1)
PY
}

# until_ok FILE RECORDERS SECONDS: waits until the watcher's last five polls
# (0.5 s) show RECORDERS (comma list, 1-based) delivering and each of their
# strips' highest peak within 0.1 dB of $LEVELS (24 dBFS values, comma-
# separated; a poll's peak is one block's, about 1 ms, less than a period of
# the lowest tones).
until_ok() {
  python3 - "$@" <<'PY'
import json, os, sys, time
path, want, within = sys.argv[1], [int(x) for x in sys.argv[2].split(",")], float(sys.argv[3])
levels = [float(x) for x in os.environ["LEVELS"].split(",")]
end = time.time() + within
while time.time() < end:
    try:
        polls = [json.loads(l) for l in open(path).read().strip().splitlines()[-5:]]
    except (OSError, ValueError):
        polls = []
    if len(polls) == 5:
        ok = all(polls[-1]["buffers"][r - 1] > polls[0]["buffers"][r - 1] for r in want)
        for r in want:
            for k in (2 * r - 2, 2 * r - 1):
                seen = [p["peaks"][k] for p in polls if p["peaks"][k] is not None]
                ok = ok and bool(seen) and abs(max(seen) - levels[k]) <= 0.1
        if ok: sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
PY
}

# phase NAME PW_RECORDERS WRAPPER SETS...: the meter under WRAPPER with the
# given recorder settings; PipeWire restarted once its recorders read their
# levels. Leaves $tmp/NAME.{json,err,watch,events}.
phase() {
  local name=$1 pw=$2 wrap=$3 p t; shift 3
  p=$(pipewire_port)
  $wrap timeout -k 2 40 "$exe" --headless --audio portaudio --settings "$tmp/$name.reg" --set "is Sound=1" --set "rg Mode=4" \
    --set "Samplerate=1" "$@" --status-port "$p" --run-for 22 --stats \
    >"$tmp/$name.json" 2>"$tmp/$name.err" &
  meter=$!
  watch "$p" "$tmp/$name.watch" &
  local watcher=$!
  local all; all=$(seq -s, 12)
  until_ok "$tmp/$name.watch" "$all" 12 || echo "$name: the levels were not right before the restart" >"$tmp/$name.events"
  sleep 1
  t=$(now); pipewire_feed_stop
  pipewire_server_down
  echo "down $t" >>"$tmp/$name.events"
  sleep 2
  pipewire_server_up && sink_up || echo "$name: PipeWire did not come back" >>"$tmp/$name.events"
  echo "up $(now)" >>"$tmp/$name.events"
  until_ok "$tmp/$name.watch" "$pw" 8 && echo "back $(now)" >>"$tmp/$name.events"
  wait "$meter"; echo "exit $?" >>"$tmp/$name.events"; meter=   # 124: still running at 40 s
  pipewire_feed_stop
  pactl unload-module module-null-sink 2>/dev/null
  wait "$watcher"
}

# check NAME PW_RECORDERS: the verdict on a phase, with what was seen.
check() {
  python3 - "$tmp" "$@" <<'PY'
import json, re, sys
tmp, name, pw = sys.argv[1], sys.argv[2], [int(x) for x in sys.argv[3].split(",")]
others = [r for r in range(1, 13) if r not in pw]
ev, bad = {}, []
for line in open(f"{tmp}/{name}.events"):
    k, _, v = line.strip().partition(" ")
    try: ev[k] = float(v)
    except ValueError: bad.append(line.strip())
err = open(f"{tmp}/{name}.err").read()
try:
    s = json.loads(open(f"{tmp}/{name}.json").read().strip().splitlines()[-1])
except (OSError, IndexError, ValueError):
    s = None
polls = [json.loads(l) for l in open(f"{tmp}/{name}.watch") if l.strip()]
lines = err.strip().splitlines()
noise = [l for l in lines if l.startswith("Expression ")]  # PortAudio's ALSA host API on failed opens
lines = [l for l in lines if not l.startswith("Expression ")]
print(f"{name}: stderr ({len(noise)} lines of PortAudio's failed ALSA opens left out):\n  "
      + "\n  ".join(lines[-20:] or ["(nothing)"]))
if s:
    print(f"{name}: --stats reopens {s['reopens']} seconds_lost {s['seconds_lost']} running {s['recorders_running']}")
else:
    bad.append("no --stats")
if polls:
    last = polls[-1]
    print(f"{name}: last /status: running {last['running']} reopens {last['reopens']}\n  devices {last['devices']}")
if "back" in ev and "up" in ev:
    print(f"{name}: PipeWire recorders back {ev['back'] - ev['up']:.1f} s after the sink returned "
          f"({ev['back'] - ev['down']:.1f} s after the stop)")
elif "up" in ev:
    bad.append(f"recorders {pw} not back with their levels within 8 s of the sink's return")
if ev.get("exit", 0) in (124, 137):
    gone = f"; /status last answered {polls[-1]['t'] - ev['down']:+.1f} s from the stop" if polls and "down" in ev else ""
    bad.append(f"hung: still running 40 s after start (--run-for 22), stopped by timeout{gone}")
elif ev.get("exit", 0) != 0: bad.append(f"exit status {ev['exit']:.0f}")
if "back" in ev and ev["back"] - ev["up"] > 5: bad.append(f"back only after {ev['back'] - ev['up']:.1f} s")
for r in pw:
    a, b = 2 * r - 1, 2 * r
    n = len(re.findall(rf"Input {a}&{b}: device .* lost", err))
    if n != 1: bad.append(f"recorder {r} reported its loss {n} times")
    if not re.search(rf"Input {a}&{b}: device .* is back", err): bad.append(f"recorder {r}: no 'is back' line")
    if s and s["reopens"][r - 1] != 1: bad.append(f"recorder {r}: {s['reopens'][r - 1]} reopens")
for r in others:
    a, b = 2 * r - 1, 2 * r
    if re.search(rf"Input {a}&{b}: ", err): bad.append(f"recorder {r} (not on PipeWire) was disturbed")
    if s and s["reopens"][r - 1]: bad.append(f"recorder {r} (not on PipeWire): {s['reopens'][r - 1]} reopens")
    # Its buffers keep coming through the restart: no 0.5 s without one.
    seen = [(p["t"], p["buffers"][r - 1]) for p in polls if ev.get("down", 0) - 1 <= p["t"] <= ev.get("up", 0) + 3]
    for i, (t, b) in enumerate(seen):
        later = [x for x in seen[i + 1:] if x[0] - t >= 0.5]
        if later and later[0][1] <= b:
            bad.append(f"recorder {r} (not on PipeWire) stalled at {t - ev['down']:+.1f} s from the stop")
            break
for b in bad:
    print(f"FAIL: {name}: {b}")
sys.exit(1 if bad else 0)
PY
}

rc=0
if [ "$only" = pulse ]; then
  # The pulse plugin's 8-channel stream takes the sink's map as it is.
  sink=tv_pw8 channels=8
  sink_up || { echo "FAIL: pulse: the 8-channel sink cannot be loaded and fed"; exit 1; }
  export PULSE_SOURCE=$sink.monitor
  # Recorders 5-12 on a JACK server of their own, with its own source.
  export JACK_DEFAULT_SERVER=tvpw_$$ JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 -C 2 -P 2 >"$tmp/jackd.log" 2>&1 &
  jackd_pid=$!
  # A loaded machine may take seconds to start the server and its client.
  for _ in $(seq 400); do jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done
  "$tool" >>"$tmp/jsrc.log" 2>&1 &
  jsrc=$!
  for _ in $(seq 400); do [ "$(jack_lsp 2>/dev/null | grep -c '^tv_source:out_')" -ge 24 ] && break; sleep 0.05; done
  # PortAudio's JACK client may time out joining a busy server: list again.
  for _ in 1 2 3; do
    list=$("$exe" --audio portaudio --list-devices 2>/dev/null)
    mapfile -t pids < <(pipewire_ids 'pulse \(\d+-\d+\)' 4 <<<"$list")
    mapfile -t jids < <(pipewire_ids 'tv_source \(\d+-\d+\)' 8 <<<"$list")
    [ ${#pids[@]} -eq 4 ] && [ ${#jids[@]} -eq 8 ] && break
    sleep 2
  done
  if [ ${#pids[@]} -ne 4 ] || [ ${#jids[@]} -ne 8 ]; then
    echo "FAIL: pulse: ${#pids[@]} 'pulse' pairs and ${#jids[@]} JACK pairs listed"; echo "$list"
    echo "JACK server log:"; tail -20 "$tmp/jackd.log"; jack_lsp 2>&1 | head -5; rc=1
  else
    sets=()
    for k in 1 2 3 4; do sets+=(--set "multi_$k=${pids[k - 1]}"); done
    for k in $(seq 5 12); do sets+=(--set "multi_$k=${jids[k - 5]}"); done
    # Strips 1-8 read the sink's eight channels, strips 9-24 tv_source's 1-16.
    LEVELS=$(python3 -c 'print(",".join(str(-3 - 1.5 * (k if k < 8 else k - 8)) for k in range(24)))') \
      phase pulse 1,2,3,4 env "${sets[@]}"
    check pulse 1,2,3,4 || rc=1
  fi
  kill $jsrc $jackd_pid 2>/dev/null; wait $jsrc $jackd_pid 2>/dev/null; jsrc= jackd_pid=
  unset JACK_DEFAULT_SERVER
fi
if [ "$only" = jack ]; then
  sink=tv_pw24 channels=24
  sink_up || { echo "FAIL: jack: the 24-channel sink cannot be loaded and fed"; exit 1; }
  list=$(pw-jack "$exe" --audio portaudio --list-devices 2>/dev/null)
  mapfile -t ids12 < <(pipewire_ids 'tv_pw24.* \(\d+-\d+\)' 12 <<<"$list")
  if [ ${#ids12[@]} -ne 12 ]; then
    echo "FAIL: jack: ${#ids12[@]} pairs of $sink listed"; echo "$list"; rc=1
  else
    sets=()
    for k in $(seq 12); do sets+=(--set "multi_$k=${ids12[k - 1]}"); done
    LEVELS=$(python3 -c 'print(",".join(str(-3 - 1.5 * k) for k in range(24)))') \
      phase jack "$(seq -s, 12)" pw-jack "${sets[@]}"
    check jack "$(seq -s, 12)" || rc=1
  fi
fi
exit $rc
