#!/usr/bin/env bash
# The soak harness's short run (about 3 minutes): scripts/soak.sh --short,
# a fault every 15-20 s on the windowed program (JACK) and headless mode
# (PulseAudio) side by side; the report lands in BUILD_DIR/soak-short.
# Skipped (77) when a server or tool it needs is missing.
# Usage: soak.sh BUILD_DIR
set -u
build=${1:?build folder}
# TARVOLIN_SOAK_FAULTS=K,K limits the fault kinds drawn (scripts/soak.sh --faults).
exec bash "$(dirname "$0")/../../scripts/soak.sh" 0.05 --short --build "$build" --out "$build/soak-short" \
  ${TARVOLIN_SOAK_FAULTS:+--faults "$TARVOLIN_SOAK_FAULTS"}
