#!/usr/bin/env bash
# PipeWire restarted under `pw-jack tarvolin`: see pipewire_restart.sh.
# Usage: pipewire_restart_jack.sh BUILD_DIR
exec bash "$(dirname "$0")/pipewire_restart.sh" "${1:?build folder}" jack
