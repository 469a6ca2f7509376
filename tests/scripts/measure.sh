#!/usr/bin/env bash
# The measuring harness still runs end to end: simulated inputs and the
# painting floor under a fresh Xvfb at two display rates, and the monitor
# without a window, one short run. Checks the summary's rows, not the
# figures. Skipped without Xvfb.
# Usage: measure.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
command -v Xvfb >/dev/null || { echo "Xvfb is not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$("$root/scripts/measure.sh" --sim --floor --headless-sim --rate 12,60 --runs 1 --settle 1 "$build" 2)
echo "$out"
for rate in 12 60; do
  grep -q "^| Tarvolin, simulated inputs at $rate frames/s | [0-9.]* | [0-9.]* | \*\*[0-9.]*\*\* |" <<<"$out"
  grep -q "^| Qt Widgets painting floor (tv-paint-floor) at $rate frames/s | [0-9.]* |" <<<"$out"
  grep -q "^Tarvolin, simulated inputs at $rate frames/s / the floor at $rate frames/s (program + X): [0-9.]*$" <<<"$out"
done
grep -q '^| Tarvolin --headless, simulated inputs | [0-9.]* | 0.00 |' <<<"$out"
# The meter's own statistics came through: twelve recorders ran.
grep -Eq '"recorders_running": ?12' <<<"$out"
