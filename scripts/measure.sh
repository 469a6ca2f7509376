#!/usr/bin/env bash
# Whole-program measurement: 24 channels live from the simulated back end at
# 48 kHz, all strips visible, under Xvfb, for SECONDS (default 20). Prints the
# run statistics and a summary: blocks per second per bar, dropped buffers,
# repaints per second, and the CPU of the program and of the X server.
# SIGNAL, when given, drives all twelve inputs (e.g. noise:-6 or
# gated:997:-6:300:200, see audio/MMSimSignal.h); default: each device's tone.
#   scripts/measure.sh [BUILD_DIR] [SECONDS] [SIGNAL]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
secs=${2:-20}
signal=${3:-}
exe=$build/tarvolin
[ -x "$exe" ] || { echo "build $exe first" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (apt-get install xvfb)" >&2; exit 1; }

tmp=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
trap 'kill $xpid 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config
unset QT_QPA_PLATFORM
chmod 700 "$tmp"

xcpu0=$(awk '{print $14+$15}' /proc/$xpid/stat)
# Recorder k records simulated input k; the window keeps its design size (all strips visible).
devices=()
for k in $(seq 12); do devices+=(--set "multi_$k=$((k - 1))"); done
if [ -n "$signal" ]; then for k in $(seq 12); do devices+=(--sim-input "$k=$signal"); done; fi
err=$(mktemp)
status=0
"$exe" --audio simulated --settings "$tmp/measure.reg" --set "is Sound=1" --set "rg Mode=4" \
  --set "Samplerate=1" "${devices[@]}" --run-for "$secs" --stats >"$tmp/stats.json" 2>"$err" || status=$?
xcpu1=$(awk '{print $14+$15}' /proc/$xpid/stat)
# The program's messages stay outside the folder the EXIT trap removes.
if [ "$status" -ne 0 ] || [ ! -s "$tmp/stats.json" ]; then
  echo "tarvolin failed (exit $status):" >&2
  cat "$err" >&2
  rm -f "$err"
  exit $((status == 0 ? 1 : status))
fi
rm -f "$err"
json=$(tail -1 "$tmp/stats.json")
echo "$json"

JSON="$json" XTICKS=$((xcpu1 - xcpu0)) HZ=$(getconf CLK_TCK) python3 -c '
import json, os, sys
try:
    j = json.loads(os.environ["JSON"])
    s = float(j["seconds"]); c = float(j["cpu_seconds"]); d = int(j["dropped_buffers"])
    blocks = [float(b) for b in j["blocks"]]; paints = [float(p) for p in j["paints"]]
except (ValueError, KeyError, TypeError) as e:
    sys.exit("unreadable statistics: %s" % e)
if s <= 0 or not blocks:
    sys.exit("statistics without run time or bars")
minb = min(blocks) / s; maxb = max(blocks) / s
maxp = max(paints) / s if paints else 0.0
cpu = 100 * c / s
print("seconds %.2f" % s)
print("blocks per second per bar: min %.1f max %.1f (target 937.5 +- 1%%: %s)"
      % (minb, maxb, "met" if minb >= 928.1 and maxb <= 946.9 else "NOT met"))
print("dropped buffers: %d" % d)
print("repaints per second per bar: max %.1f" % maxp)
print("program CPU: %.2f %% of one core (target < 8 %%: %s)" % (cpu, "met" if cpu < 8 else "NOT met"))
print("X server CPU: %.2f %% of one core" % (100 * int(os.environ["XTICKS"]) / int(os.environ["HZ"]) / s))
'
