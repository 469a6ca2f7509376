#!/usr/bin/env bash
# Builds one libFuzzer target with clang (in build/fuzz, or $FUZZ_BUILD) and runs
# it for RUNS inputs over a copy of its seed corpus fuzz/corpus/NAME; the seeds in
# the repository stay as they are. Prints the runs, execs/s, time and the corpus
# size at start and end (also after minimizing). Exits non-zero on a crash, a
# leak or a timeout, leaving the input that caused it in build/fuzz/crashes/NAME/.
#
#   scripts/fuzz.sh list              the target names
#   scripts/fuzz.sh NAME RUNS [ARGS]  ARGS go to libFuzzer (e.g. -max_len=8192)
#
# One process, one core; FUZZ_WORKERS=N splits the runs over N processes that
# share the corpus (each picks up the others' finds). Installs clang and
# libclang-rt-14-dev when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}

names() { for f in "$root"/fuzz/*_fuzz.cpp; do basename "$f" _fuzz.cpp; done; }

if [ "${1:-}" = list ]; then
  names
  exit 0
fi
if [ $# -lt 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 list | $0 NAME RUNS [libFuzzer arguments]" >&2
  exit 2
fi
name=$1 runs=$2
shift 2
if [ ! -f "$root/fuzz/${name}_fuzz.cpp" ]; then
  echo "fuzz.sh: no target '$name'; there are: $(names | tr '\n' ' ')" >&2
  exit 2
fi

# The build's packages with clang and its fuzzing runtime.
"$root/scripts/deps.sh" fuzz

if [ ! -f "$build/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" \
    -DTARVOLIN_FUZZ=ON -DTARVOLIN_SANITIZE=ON -DTARVOLIN_WERROR=ON \
    -DTARVOLIN_TESTS=OFF -DTARVOLIN_BENCH=OFF >/dev/null
fi
mkdir -p "$build/logs"
if ! cmake --build "$build" --target "fuzz_$name" -j"${FUZZ_JOBS:-2}" >"$build/logs/build-$name.log" 2>&1; then
  tail -20 "$build/logs/build-$name.log" >&2
  echo "fuzz.sh: building fuzz_$name failed (log: $build/logs/build-$name.log)" >&2
  exit 3
fi

seeds=$root/fuzz/corpus/$name
work=$build/corpus/$name
crashes=$build/crashes/$name
log=$build/logs/$name.log
rm -rf "$work" "$work-min"
mkdir -p "$work" "$work-min" "$crashes" "$(dirname "$log")"
cp -a "$seeds"/. "$work"/
size() { echo "$(find "$1" -type f | wc -l) files, $(du -sb "$1" | cut -f1) bytes"; }
start_size=$(size "$work")

export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
# A smaller quarantine than the default 256 MB: fresh pages for every freed block cost
# more than the runs themselves in the file targets.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# The HTTP target's server frees a connection's objects in later turns of the event loop,
# so the malloc and free counts of a run never match and libFuzzer would scan for leaks
# after every run (100 times slower); leaks are still checked once at the end.
target_args=()
[ "$name" = status_http ] && target_args=(-detect_leaks=0)
workers=${FUZZ_WORKERS:-1}
[[ $workers =~ ^[1-9][0-9]*$ ]] || { echo "fuzz.sh: FUZZ_WORKERS must be a positive number" >&2; exit 2; }
t0=$(date +%s.%N)
pids=()
for ((k = 1; k <= workers; k++)); do
  wlog=$log
  [ "$workers" -gt 1 ] && wlog=$log.$k
  share=$(( runs / workers + (k <= runs % workers ? 1 : 0) ))
  "$build/fuzz/fuzz_$name" -runs="$share" -timeout=25 -print_final_stats=1 "${target_args[@]}" \
    -artifact_prefix="$crashes/" "$@" "$work" >"$wlog" 2>&1 &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=$?; done
t1=$(date +%s.%N)
if [ "$workers" -gt 1 ]; then
  for ((k = 1; k <= workers; k++)); do cat "$log.$k"; done >"$log"
fi

# Summed over the workers (the peak RSS is the largest one's).
total() { sed -n "s/^stat::$1: *//p" "$log" | awk '{ n += $1 } END { if (NR) print n }'; }
largest() { sed -n "s/^stat::$1: *//p" "$log" | sort -n | tail -1; }
done_runs=$(total number_of_executed_units)
echo "fuzz $name: runs ${done_runs:-?}," \
     "$(awk -v a="$t0" -v b="$t1" -v n="${done_runs:-0}" 'BEGIN { printf "%.0f execs/s, %.0f s", n / (b - a), b - a }')," \
     "peak RSS $(largest peak_rss_mb) MB"
echo "corpus at start: $start_size"
echo "corpus at end:   $(size "$work") ($(total new_units_added) new units)"
if [ $rc -ne 0 ]; then
  echo "fuzz $name FAILED (exit $rc); log: $log" >&2
  grep -E "^==[0-9]+==ERROR|runtime error|SUMMARY|Test unit written" "$log" | head -8 >&2 || true
  ls -t "$crashes" | head -3 | sed "s|^|input: $crashes/|" >&2
  exit 1
fi
"$build/fuzz/fuzz_$name" -merge=1 "${target_args[@]}" -artifact_prefix="$crashes/" "$work-min" "$work" >>"$log" 2>&1
echo "corpus minimized: $(size "$work-min") (in $work-min)"
