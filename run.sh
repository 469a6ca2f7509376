#!/usr/bin/env bash
# Install what's missing, build, and start the meter. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_TESTS=OFF >/dev/null
cmake --build build/release --target tarvolin
exec build/release/tarvolin "$@"
