#!/usr/bin/env bash
# A JACK source metered headless by two recorders (private dummy server,
# 48 kHz): when the client exits, its recorders are lost (stderr, journal,
# --stats); when a client of that name comes back (with other ports), they are
# connected again and meter it. The server killed and started again: the
# recorders are lost and back within seconds, and the program answers
# meanwhile. A recorder asked for 44100 Hz on the 48000 Hz server says once why
# it does not open, with the server's rate.
# Skipped without jackd. Usage: jack_recovery.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
exe=$build/tarvolin
src=$build/tv-jack-source
command -v jackd >/dev/null && command -v jack_lsp >/dev/null || { echo "jackd is not installed"; exit 77; }
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
[ -x "$src" ] || { echo "tv-jack-source was not built"; exit 77; }
tmp=$(mktemp -d)
export JACK_DEFAULT_SERVER=tvrec_$$ JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp
chmod 700 "$tmp"
pids=()
cleanup() {  # the clients before the server
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
server() {  # starts the server and the source client tvsrc
  jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 512 -C 2 -P 2 >>"$tmp/jackd.log" 2>&1 &
  jpid=$!
  pids+=($jpid)
  for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.05; done
  jack_lsp >/dev/null 2>&1 || { echo "the JACK server did not start"; cat "$tmp/jackd.log"; exit 77; }
  "$src" -c tvsrc &
  spid=$!
  pids+=($spid)
  for _ in $(seq 100); do jack_lsp | grep -q '^tvsrc:out_24$' && break; sleep 0.05; done
}
server

# PortAudio's ids of the source's first two pairs.
list=$("$exe" --audio portaudio --list-devices 2>/dev/null)
pair() { awk -v want="tvsrc ($1)" '/^Input/{i=1} /^Output/{i=0} i && index($0, want) {print $1; exit}' <<<"$list"; }
d1=$(pair 1-2); d2=$(pair 3-4)
[ -n "$d1" ] && [ -n "$d2" ] || { echo "PortAudio lists no pairs of the JACK client tvsrc:"; echo "$list"; exit 77; }

run() {  # SECONDS RATE_INDEX [ARGS]: headless, recorders 1 and 2 on the source's pairs 1 and 2
  local seconds=$1 rate=$2
  shift 2
  "$exe" --headless --audio portaudio --settings "$tmp/t.reg" --set "is Sound=1" --set "rg Mode=1" \
    --set "Samplerate=$rate" --set "multi_1=$d1" --set "multi_2=$d2" --run-for "$seconds" --stats "$@"
}

# 1. The client goes for 3 s and comes back under its name with other ports (-z: port 24 silent).
run 14 1 >"$tmp/stats.json" 2>"$tmp/err.txt" &
tpid=$!
pids+=($tpid)
sleep 4
kill "$spid"; wait "$spid" 2>/dev/null || true
sleep 3
"$src" -z -c tvsrc &
spid=$!
pids+=($!)
wait "$tpid" || { cat "$tmp/err.txt"; exit 1; }

# 2. The server killed and started again; the status page answers throughout.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
run 16 1 --status-port "$port" >"$tmp/stats_k.json" 2>"$tmp/err_k.txt" &
tpid=$!
pids+=($tpid)
sleep 4
kill -9 "$jpid" "$spid"; wait "$jpid" "$spid" 2>/dev/null || true
slow=0
for _ in 1 2 3 4; do  # while the server is away
  sleep 0.5
  curl -s -m 2 -o /dev/null "http://127.0.0.1:$port/status" || slow=$((slow + 1))
done
server
wait "$tpid" || { cat "$tmp/err_k.txt"; exit 1; }

# 3. The rate the server does not run.
run 3 0 >"$tmp/stats44.json" 2>"$tmp/err44.txt" || { cat "$tmp/err44.txt"; exit 1; }

journal=$(cat "$tmp"/data/Tarvolin/journal/*.log)
SLOW=$slow ERRK=$(cat "$tmp/err_k.txt") STATSK=$(tail -1 "$tmp/stats_k.json") \
ERR=$(cat "$tmp/err.txt") ERR44=$(cat "$tmp/err44.txt") JOURNAL=$journal \
STATS=$(tail -1 "$tmp/stats.json") STATS44=$(tail -1 "$tmp/stats44.json") python3 - <<'EOF'
import json, os, sys
err, err44, journal = os.environ["ERR"], os.environ["ERR44"], os.environ["JOURNAL"]
s, s44 = json.loads(os.environ["STATS"]), json.loads(os.environ["STATS44"])
errors = []
def want(cond, what):
    if not cond: errors.append(what)
want('Input 1&2: device "tvsrc (1-2)' in err and "lost" in err, "no lost line for recorder 1:\n" + err)
want("Input 1&2" in err and "is back; metering again" in err, "no line saying recorder 1 is back:\n" + err)
want("event=lost" in journal and "event=reopened" in journal, "journal lacks lost/reopened:\n" + journal)
want(s["reopens"][0] >= 1 and s["reopens"][1] >= 1, "reopens %s" % s["reopens"][:2])
want(s["recorders_running"] == 2, "recorders running at the end: %d" % s["recorders_running"])
lv = s["level_dbfs"]
want(lv[0] is not None and lv[0] > -10, "strip 1 after the client came back: %s dBFS" % lv[0])
want(s["seconds_lost"][0] < 8, "recorder 1 lost for %.1f s" % s["seconds_lost"][0])
sk = json.loads(os.environ["STATSK"])
errk = os.environ["ERRK"]
want(os.environ["SLOW"] == "0", "the status page did not answer %s times while the server was away" % os.environ["SLOW"])
want("lost" in errk and "is back; metering again" in errk, "server killed: no lost and back lines:\n" + errk)
want(sk["recorders_running"] == 2, "server restarted: %d recorders running at the end:\n%s" % (sk["recorders_running"], errk))
want(sk["seconds_lost"][0] < 8, "server restarted: recorder 1 lost for %.1f s" % sk["seconds_lost"][0])
lk = sk["level_dbfs"]
want(lk[0] is not None and lk[0] > -10, "strip 1 after the server came back: %s dBFS" % lk[0])
want("does not open" in err44 and "the device runs at 48000 Hz" in err44, "no failed-open line with the rate:\n" + err44)
want(err44.count("Input 1&2: device") == 1, "the failed open of recorder 1 told %d times" % err44.count("Input 1&2: device"))
want(s44["failed_opens"][0] == 1 and s44["recorders_running"] == 0, "stats at 44100: %s running, failed %s" % (s44["recorders_running"], s44["failed_opens"][:2]))
want("event=failed" in journal and "48000 Hz" in journal, "journal lacks event=failed with the rate")
if errors: sys.exit("\n".join(errors))
print("JACK client gone and back: lost %.1f s, reopened; server killed and restarted: lost %.1f s;"
      " at 44100 Hz: told once, %s" % (s["seconds_lost"][0], sk["seconds_lost"][0], err44.strip().splitlines()[0]))
EOF
