#!/usr/bin/env bash
# The soak harness's checks on a made-up run (tools/tv-soak.py --self-test):
# a missed alarm, a pause that alarmed, a silence length off by a clock step,
# duplicate and unexpected alarms, lost, torn and misfiled journal lines,
# growing memory and a hang must each be found, and nothing else: lines lost
# while the disk was full are reported apart, a silence during the hang is not
# judged. No server, a second or so.
# Usage: soak_checks.sh BUILD_DIR
set -u
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
exec python3 "$(dirname "$0")/../../tools/tv-soak.py" --self-test
