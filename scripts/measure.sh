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
"$exe" --audio simulated --settings "$tmp/measure.reg" --set "is Sound=1" --set "rg Mode=4" \
  --set "Samplerate=1" "${devices[@]}" --run-for "$secs" --stats >"$tmp/stats.json" 2>"$tmp/stderr.txt"
xcpu1=$(awk '{print $14+$15}' /proc/$xpid/stat)
json=$(tail -1 "$tmp/stats.json")
echo "$json"

hz=$(getconf CLK_TCK)
JSON="$json" XTICKS=$((xcpu1 - xcpu0)) HZ=$hz awk 'BEGIN {
  j = ENVIRON["JSON"]
  match(j, /"seconds":[0-9.]+/); s = substr(j, RSTART + 10, RLENGTH - 10) + 0
  match(j, /"cpu_seconds":[0-9.]+/); c = substr(j, RSTART + 14, RLENGTH - 14) + 0
  match(j, /"dropped_buffers":[0-9]+/); d = substr(j, RSTART + 18, RLENGTH - 18) + 0
  match(j, /"blocks":\[[0-9,]+\]/); nb = split(substr(j, RSTART + 10, RLENGTH - 11), b, ",")
  match(j, /"paints":\[[0-9,]+\]/); np = split(substr(j, RSTART + 10, RLENGTH - 11), p, ",")
  minb = 1e18; maxb = 0; maxp = 0
  for (i = 1; i <= nb; i++) { r = b[i] / s; if (r < minb) minb = r; if (r > maxb) maxb = r }
  for (i = 1; i <= np; i++) { r = p[i] / s; if (r > maxp) maxp = r }
  printf "seconds %.2f\n", s
  printf "blocks per second per bar: min %.1f max %.1f (target 937.5 +- 1%%: %s)\n", minb, maxb,
         (minb >= 928.1 && maxb <= 946.9) ? "met" : "NOT met"
  printf "dropped buffers: %d\n", d
  printf "repaints per second per bar: max %.1f\n", maxp
  printf "program CPU: %.2f %% of one core (target < 8 %%: %s)\n", 100 * c / s, (100 * c / s < 8) ? "met" : "NOT met"
  printf "X server CPU: %.2f %% of one core\n", 100 * ENVIRON["XTICKS"] / ENVIRON["HZ"] / s
}'
