#!/usr/bin/env bash
# The monitoring service headless, without any display: see monitor_service.sh.
# Usage: monitor_headless.sh BUILD_DIR
exec bash "$(dirname "$0")/monitor_service.sh" "${1:?build folder}" --headless
