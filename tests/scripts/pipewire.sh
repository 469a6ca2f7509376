#!/usr/bin/env bash
# The whole program, headless, on a PipeWire server of its own: a 24-channel
# null sink fed through the JACK layer by tv-jack-source (port k a sine at
# -3 - 1.5 (k - 1) dBFS), its monitor metered by twelve recorders on its pairs
# twice: through the JACK layer (`pw-jack tarvolin`, devices "tv_pw24 ... (1-2)"
# ...) and through the PulseAudio layer (pipewire-pulse, devices "pulse (1-2)"
# ...). Each strip reads its channel's level within 0.1 dB, and the two layers
# agree within 0.1 dB. PipeWire 0.3.65 passes only the eight surround channels
# of the pulse plugin's 24-channel stream (aux0 ... read digital silence): the
# pulse layer is held to strips 1-8, and strips 9-24 must read either their
# levels or silence. Skipped when PipeWire or its tools are missing or do not
# start. PW_KEEP=1 keeps the scratch folder (the servers' logs).
# Usage: pipewire.sh BUILD_DIR
set -u
build=${1:?build folder}
exe=$build/tarvolin
tool=$build/tv-jack-source
root=$(cd "$(dirname "$0")/../.." && pwd)
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
[ -x "$tool" ] || { echo "no $tool (built with JACK only)"; exit 77; }
for c in pw-jack jack_lsp jack_connect pactl python3; do command -v $c >/dev/null || { echo "$c is not installed"; exit 77; }; done
tmp=$(mktemp -d)
chmod 700 "$tmp"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_STATE_HOME=$tmp/state
unset JACK_DEFAULT_SERVER
source "$root/scripts/pipewire-server.sh"
cleanup() {
  pipewire_server_stop
  [ -n "${PW_KEEP:-}" ] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT
pipewire_server_start "$tmp/run" || { echo "PipeWire does not start here"; exit 77; }
sink=tv_pw24
pactl load-module module-null-sink sink_name=$sink channels=24 rate=48000 channel_map="$(pipewire_alsa_map 24)" \
  >/dev/null || { echo "FAIL: the 24-channel null sink cannot be loaded"; exit 1; }
pipewire_feed "$tool" tv_src "$sink" || { echo "FAIL: the source cannot be linked to the sink"; tail "$tmp/run/feed.log"; exit 1; }
export PULSE_SOURCE=$sink.monitor   # what the 'pulse' device records


# meter NAME REGEX WRAPPER...: twelve recorders on the first twelve pairs
# whose names match, the program run under WRAPPER (pw-jack or env); the
# JSON statistics go to $tmp/NAME.json. A strip's level on /status is the
# peak of its last block (about 1 ms, a third of a 340 Hz period), so the
# poller keeps each strip's highest level over the run after all twelve
# deliver, and the time from the start until they do: $tmp/NAME.poll.
meter() {
  local name=$1 pairs=$2; shift 2
  local list sets=() k=1 id p t0
  list=$("$@" "$exe" --audio portaudio --list-devices 2>/dev/null)
  for id in $(pipewire_ids "$pairs" 12 <<<"$list"); do sets+=(--set "multi_$k=$id"); k=$((k + 1)); done
  [ ${#sets[@]} -eq 24 ] || { echo "FAIL: $name: $((k - 1)) pairs listed, not 12"; echo "$list"; return 1; }
  p=$(pipewire_port)
  t0=$(date +%s.%N)
  "$@" "$exe" --headless --audio portaudio --settings "$tmp/$name.reg" --set "is Sound=1" --set "rg Mode=4" \
    --set "Samplerate=1" "${sets[@]}" --status-port "$p" --run-for 10 --stats \
    >"$tmp/$name.json" 2>"$tmp/$name.err" &
  local pid=$!
  python3 - "$p" "$t0" >"$tmp/$name.poll" <<'PY'
import json, sys, time, urllib.request
port, t0 = int(sys.argv[1]), float(sys.argv[2])
start, top, polls, misses = None, [None] * 24, 0, 0
while misses < 20 and time.time() - t0 < 20:
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=1) as r:
            s = json.loads(r.read().decode())
        misses = 0
        if start is None and len(s["recorders"]) == 12 and all(x["buffers"] > 0 for x in s["recorders"]):
            start = time.time() - t0
        elif start is not None:
            polls += 1
            for k, x in enumerate(s["strips"][:24]):
                v = x["level_dbfs"]
                if v is not None and (top[k] is None or v > top[k]): top[k] = v
    except (OSError, ValueError):
        misses += 1
    time.sleep(0.05)
print(json.dumps({"start": start, "levels": top, "polls": polls}))
PY
  wait $pid || { echo "FAIL: $name: exit status $?"; tail "$tmp/$name.err"; return 1; }
}

meter jack 'tv_pw24.* \(\d+-\d+\)' pw-jack || exit 1
meter pulse 'pulse \(\d+-\d+\)' env || exit 1
n=$(grep -c '^feed restarted' "$tmp/run/feed.log")
[ "$n" -eq 0 ] || echo "note: PipeWire's JACK layer shut tv-jack-source down (${n}x); it was started again"
[ "$(grep -c . "$tmp/pulse.err")" -eq 0 ] || { echo "stderr of the pulse run:"; cat "$tmp/pulse.err"; }

python3 - "$tmp" <<'PY'
import json, sys
tmp = sys.argv[1]
want = [-3 - 1.5 * k for k in range(24)]
bad, runs = [], {}
for name in ("jack", "pulse"):
    s = json.loads(open(f"{tmp}/{name}.json").read().strip().splitlines()[-1])
    poll = json.loads(open(f"{tmp}/{name}.poll").read())
    runs[name] = poll["levels"]
    start = "%.2f s" % poll["start"] if poll["start"] is not None else "never"
    print(f"{name}: highest levels over {poll['polls']} polls {poll['levels']}\n  all twelve delivering "
          f"{start} after the start, reopens {sum(s['reopens'])}, dropped {s['dropped_buffers']}, "
          f"cpu {s['cpu_seconds']} s of {s['seconds']} s")
    if s["recorders_running"] != 12: bad.append(f"{name}: {s['recorders_running']} recorders running")
    if s["dropped_buffers"]: bad.append(f"{name}: {s['dropped_buffers']} buffers dropped")
    if any(s["reopens"]): bad.append(f"{name}: reopens {s['reopens']}")
    if poll["polls"] < 10: bad.append(f"{name}: only {poll['polls']} polls of /status with all twelve running")
jack, pulse = runs["jack"], runs["pulse"]
for k in range(24):
    if jack[k] is None or abs(jack[k] - want[k]) > 0.1:
        bad.append(f"JACK layer strip {k + 1}: {jack[k]} dBFS, sent {want[k]}")
    near = pulse[k] is not None and abs(pulse[k] - want[k]) <= 0.1
    if k < 8 and not near:
        bad.append(f"PulseAudio layer strip {k + 1}: {pulse[k]} dBFS, sent {want[k]}")
    if near and jack[k] is not None and abs(pulse[k] - jack[k]) > 0.1:
        bad.append(f"strip {k + 1}: JACK layer {jack[k]}, PulseAudio layer {pulse[k]} dBFS")
rest = pulse[8:]
if all(v is None for v in rest):
    print("note: the PulseAudio layer passes channels 1-8 only; 9-24 read digital silence (PipeWire drops "
          "the aux channels of the pulse plugin's mixed channel map)")
elif not all(v is not None and abs(v - w) <= 0.1 for v, w in zip(rest, want[8:])):
    bad.append(f"PulseAudio layer strips 9-24 read neither their levels nor silence: {rest}")
for b in bad:
    print("FAIL:", b)
sys.exit(1 if bad else 0)
PY
