#!/usr/bin/env bash
# Soak test: the windowed program and headless mode side by side for HOURS,
# 24 channels each, detector and journal on, status clients polling, a fault
# at every interval (sound server and JACK server killed and restarted, the
# JACK source gone, the journal's disk full, the settings read-only, hostile
# HTTP clients, the wall clock stepped by an hour), then checks every injected
# silence against the alarms, the journals, resident memory and the
# recorders. docs/soak.md says what it checks and how to read the report.
#   scripts/soak.sh HOURS [--build DIR] [--out DIR] [--short] [--faults K,K]
#                         [--fault-every S|LO-HI] [--seed N] [--rss-limit MB_PER_H]
# HOURS may be a fraction: 0.33 is 20 minutes. The build folder defaults to
# build/test (what ./test.sh builds); the report goes to BUILD/soak/report.txt.
# Exit status: 0 passed, 1 failed, 77 a needed server or tool is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
hours=$1; shift
build=$root/build/test out=
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
out=${out:-$build/soak}
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
# A mount namespace of its own: the journals' tmpfs vanishes with the run
# even if it is killed. Without the privilege the harness mounts in place, or
# leaves the disk-full fault out.
ns=()
if [ "$(id -u)" -eq 0 ] && unshare -m --propagation private true 2>/dev/null; then
  ns=(unshare -m --propagation private)
fi
exec "${ns[@]}" python3 "$root/tools/tv-soak.py" "$hours" --build "$build" --out "$out" "${args[@]}"
