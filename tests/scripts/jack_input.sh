#!/usr/bin/env bash
# Twelve recorders on a JACK server (private dummy server, 48 kHz, 512-frame
# periods) through PortAudio: they start one after another without losing a
# buffer, and every bar gets its blocks. Skipped without jackd.
# Usage: jack_input.sh BUILD_DIR
set -euo pipefail
exe=${1:?build folder}/tarvolin
command -v jackd >/dev/null && command -v jack_lsp >/dev/null || { echo "jackd is not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
tmp=$(mktemp -d)
export JACK_DEFAULT_SERVER=tvtest_$$ JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_RUNTIME_DIR=$tmp
chmod 700 "$tmp"
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 -C 2 -P 2 >"$tmp/jackd.log" 2>&1 &
jpid=$!
trap 'kill $jpid 2>/dev/null; wait $jpid 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done
jack_lsp >/dev/null 2>&1 || { echo "the JACK server did not start"; cat "$tmp/jackd.log"; exit 77; }

# PortAudio's id of the JACK device "system".
dev=$("$exe" --audio portaudio --list-devices 2>/dev/null |
  awk '/^Input/{i=1} /^Output/{i=0} i && $2=="system" && /JACK/{print $1; exit}')
[ -n "$dev" ] || { echo "PortAudio lists no JACK input"; exit 77; }

args=()
for k in $(seq 12); do args+=(--set "multi_$k=$dev"); done
"$exe" --audio portaudio --settings "$tmp/t.reg" --set "is Sound=1" --set "rg Mode=4" --set "Samplerate=1" "${args[@]}" \
  --run-for 4 --stats >"$tmp/stats.json" 2>"$tmp/err.txt" || { cat "$tmp/err.txt"; exit 1; }

STATS=$(tail -1 "$tmp/stats.json") python3 - <<'EOF'
import json, os, sys
s = json.loads(os.environ["STATS"])
errors = []
if s["recorders_running"] != 12: errors.append("recorders running: %d of 12" % s["recorders_running"])
if s["dropped_buffers"] != 0: errors.append("dropped buffers: %d" % s["dropped_buffers"])
# 937.5 blocks/s per bar at 48 kHz; the clock starts when the window shows.
low = min(s["blocks"]) / s["seconds"]
if low < 900: errors.append("blocks per second per bar: %.1f" % low)
if errors: sys.exit("; ".join(errors) + "\n" + json.dumps(s))
print("12 recorders on JACK: no buffer dropped, %.1f blocks/s per bar" % low)
EOF
