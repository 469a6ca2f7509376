#!/usr/bin/env bash
# Install what's missing, build, and run every test.
#   ./test.sh              normal build (warnings are errors)
#   ./test.sh --sanitize   the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   ./test.sh --tsan       the tests that start threads (label "threads") under ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test
dir=build/test; extra=(); target=(); select=()
if [ "${1:-}" = --sanitize ]; then
  dir=build/sanitize; extra=(-DTARVOLIN_SANITIZE=ON -DTARVOLIN_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
elif [ "${1:-}" = --tsan ]; then
  dir=build/tsan; extra=(-DTARVOLIN_TSAN=ON -DTARVOLIN_BENCH=OFF); target=(--target threads_tests)
  select=(-L threads)
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOLIN_WERROR=ON "${extra[@]}" >/dev/null
cmake --build "$dir" "${target[@]}"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}; chmod 700 "$XDG_RUNTIME_DIR"
# A private sound server for the real-audio tests; they skip themselves when it is absent.
source scripts/audio-server.sh
jack_leftovers_clear
audio_server_start || echo "note: sound server did not start; real-audio tests will be skipped" >&2
trap audio_server_stop EXIT
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 300 "${select[@]}"
