#!/usr/bin/env bash
# Network streams metered headless, sender and meter together in a network
# namespace of the test's own (only its loopback; no packet leaves it):
#  1. an 8-channel L24 stream from gst-launch (SDP file): four pairs read
#     within 0.1 dB of the levels sent;
#  2. a stream known only by SAP, remembered by name: connected within one
#     announcement interval; 1 % of packets left out (once it is received),
#     counted exactly and read
#     as silence of their length; the stream stopped for 10 s raises the
#     silence alarm and the lost-device line, and is metered again after;
#  3. two senders 100 ppm fast and slow for TARVOLIN_DRIFT_SECONDS (600):
#     no buffer dropped, no packet lost, every recorder running.
# Skipped without unshare rights or GStreamer. Usage: network_streams.sh BUILD_DIR
set -euo pipefail
build=${1:?build folder}
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${TV_IN_NETNS:-}" != 1 ]; then
  command -v gst-launch-1.0 >/dev/null || { echo "gst-launch-1.0 is not installed"; exit 77; }
  command -v python3 >/dev/null && command -v ip >/dev/null || { echo "python3 or ip is missing"; exit 77; }
  unshare --net true 2>/dev/null || { echo "cannot make a network namespace (unshare --net)"; exit 77; }
  TV_IN_NETNS=1 exec unshare --net -- bash "$0" "$@"
fi
ip link set lo up
exe=$build/tarvolin
send=$root/tools/tv-rtp-send.py
tmp=$(mktemp -d)
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
sdp() {  # NAME GROUP PORT CHANNELS
  printf 'v=0\r\no=- %s 0 IN IP4 127.0.0.1\r\ns=%s\r\nc=IN IP4 %s/32\r\nt=0 0\r\nm=audio %s RTP/AVP 96\r\na=rtpmap:96 L24/48000/%s\r\na=ptime:1\r\n' \
    "$RANDOM$RANDOM" "$1" "$2" "$3" "$4"
}
meter() {  # SECONDS NAME [ARGS]: headless, 48 kHz, detector on, status on a port
  local seconds=$1 name=$2
  shift 2
  "$exe" --headless --audio simulated --net-interface lo --settings "$tmp/$name.reg" --set "is Sound=1" \
    --set "Samplerate=1" --set "cb detect=1" --set "db_value2=-40" --set "sec_value=3" \
    --run-for "$seconds" --stats "$@" >"$tmp/$name.json" 2>"$tmp/$name.err"
}
ids() {  # NAME: the ids of the stream's pairs in the device list
  "$exe" --list-devices --audio simulated --net-interface none --sdp "$tmp/$1.sdp" 2>/dev/null |
    awk -v want="$1 [AES67] (" 'index($0, want) {print $1}'
}

# 1. Levels of an 8-channel L24 stream from GStreamer.
sdp "Studio A" 239.69.1.1 5004 8 >"$tmp/Studio A.sdp"
levels=(-3 -6 -9 -12 -15 -18 -21 -24)
srcs=()
for c in "${!levels[@]}"; do
  v=$(python3 -c "print(10 ** (${levels[c]} / 20))")
  srcs+=(audiotestsrc is-live=true freq=997 "volume=$v" ! audio/x-raw,channels=1,rate=48000 ! "i.sink_$c")
done
gst-launch-1.0 -q interleave name=i ! audioconvert ! \
  audio/x-raw,format=S24BE,channels=8,rate=48000,layout=interleaved ! \
  rtpL24pay pt=96 min-ptime=1000000 max-ptime=1000000 ! \
  udpsink host=239.69.1.1 port=5004 auto-multicast=true multicast-iface=lo ttl-mc=1 "${srcs[@]}" \
  >"$tmp/gst.log" 2>&1 &
pids+=($!)
mapfile -t a < <(ids "Studio A")
[ ${#a[@]} -eq 4 ] || { echo "the 8-channel stream is not listed as four pairs: ${a[*]}"; exit 1; }
meter 4 levels --sdp "$tmp/Studio A.sdp" --set "rg Mode=2" \
  --set "multi_1=${a[0]}" --set "multi_2=${a[1]}" --set "multi_3=${a[2]}" --set "multi_4=${a[3]}" ||
  { cat "$tmp/levels.err" "$tmp/gst.log"; exit 1; }
kill "${pids[0]}"

# 2. Known only by SAP; 1 % left out; stopped for 10 s at 8 s. The status is
# watched throughout: connected, lost, metering again.
sdp "Studio B" 239.69.1.2 5006 2 >"$tmp/Studio B.sdp"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
meter 29 sap --status-port "$port" --set "rg Mode=0" --set "multi_1=77" \
  --set "multi_1 name=Studio B [AES67]" &
mpid=$!
pids+=($mpid)
sleep 1.5  # the meter runs, its recorder not connected
python3 "$send" --group 239.69.1.2 --port 5006 --channels 2 --levels -10 --drop-every 100 --drop-after 3 \
  --pause-at 8.05 --pause-for 10 --seconds 24 --sap-sdp "$tmp/Studio B.sdp" --sap-every 2 \
  --report "$tmp/sent.json" &
spid=$!
pids+=($spid)
PORT=$port python3 - >"$tmp/watch.json" <<'EOF'
import json, os, time, urllib.request
t0, seen = time.monotonic(), {}
while time.monotonic() - t0 < 25:
    try:
        s = json.load(urllib.request.urlopen("http://127.0.0.1:%s/status" % os.environ["PORT"], timeout=1))
    except Exception:
        time.sleep(0.1); continue
    r, t = s["recorders"][0]["running"], time.monotonic() - t0
    lvl = s["strips"][0]["level_dbfs"]
    if r and "connected" not in seen: seen["connected"] = t
    if "connected" in seen and not r and "lost" not in seen: seen["lost"] = t
    if "lost" in seen and r and lvl is not None and abs(lvl + 10) < 0.2 and "back" not in seen: seen["back"] = t
    time.sleep(0.1)
print(json.dumps(seen))
EOF
wait "$spid"
wait "$mpid" || { cat "$tmp/sap.err"; exit 1; }

# 3. Two senders 100 ppm off, side by side.
drift=${TARVOLIN_DRIFT_SECONDS:-600}
sdp "Fast" 239.69.1.3 5008 2 >"$tmp/Fast.sdp"
sdp "Slow" 239.69.1.4 5010 2 >"$tmp/Slow.sdp"
python3 "$send" --group 239.69.1.3 --port 5008 --ppm 100 --seconds $((drift + 8)) &
pids+=($!)
python3 "$send" --group 239.69.1.4 --port 5010 --ppm -100 --seconds $((drift + 8)) &
pids+=($!)
list=$("$exe" --list-devices --audio simulated --net-interface none --sdp "$tmp/Fast.sdp" --sdp "$tmp/Slow.sdp" 2>/dev/null)
f=$(awk '/ Fast \[AES67\]/ {print $1; exit}' <<<"$list")
s=$(awk '/ Slow \[AES67\]/ {print $1; exit}' <<<"$list")
meter "$drift" drift --sdp "$tmp/Fast.sdp" --sdp "$tmp/Slow.sdp" --set "rg Mode=1" \
  --set "multi_1=$f" --set "multi_2=$s" || { cat "$tmp/drift.err"; exit 1; }

ROOT=$tmp LEVELS="${levels[*]}" python3 - <<'EOF'
import json, os, sys
tmp = os.environ["ROOT"]
def stats(name): return json.loads(open(os.path.join(tmp, name + ".json")).read().splitlines()[-1])
def text(name): return open(os.path.join(tmp, name)).read()
errors = []
def want(cond, what):
    if not cond: errors.append(what)

lv = stats("levels")
sent = [float(x) for x in os.environ["LEVELS"].split()]
got = lv["level_dbfs"][:8]
want(all(g is not None and abs(g - w) <= 0.1 for g, w in zip(got, sent)),
     "levels of the 8 channels %s, sent %s" % (got, sent))
want(lv["recorders_running"] == 4, "%d recorders running on the 8-channel stream" % lv["recorders_running"])
st = lv["streams"][0]
want(st["lost"] == 0 and st["malformed"] == 0 and st["packets"] > 3000, "stream counters %s" % st)

sap, err, sent = stats("sap"), text("sap.err"), json.load(open(os.path.join(tmp, "sent.json")))
watch = json.load(open(os.path.join(tmp, "watch.json")))
found = watch.get("connected")
want(found is not None and found <= 2.0, "the announced stream connected after %s s (announced every 2 s)" % found)
want("lost" in watch and "back" in watch, "status while the stream stopped and came back: %s" % watch)
b = [x for x in sap["streams"] if x["stream"] == "Studio B [AES67]"]
want(len(b) == 1, "streams in --stats: %s" % sap["streams"])
if b:
    b = b[0]
    want(b["lost"] == sent["dropped"] + sent["paused"],
         "lost %d, left out %d and %d while stopped" % (b["lost"], sent["dropped"], sent["paused"]))
    want(b["silent_frames"] == sent["dropped"] * sent["frames_per_packet"],
         "silence for lost packets: %d frames, %d packets left out" % (b["silent_frames"], sent["dropped"]))
    want(b["duplicates"] == 0 and b["late"] == 0 and b["malformed"] == 0, "counters %s" % b)
want(sap["alarms"][0] >= 1 and sap["alarms"][1] >= 1, "no silence alarm while the stream stopped: %s" % sap["alarms"][:2])
want('Input 1&2: device "Studio B [AES67]"' in err and "lost" in err, "no lost line:\n" + err)
want("is back; metering again" in err, "no line saying the stream is back:\n" + err)
journal = "".join(open(os.path.join(tmp, "data/Tarvolin/journal", f)).read()
                  for f in os.listdir(os.path.join(tmp, "data/Tarvolin/journal")))
want("event=lost" in journal and "event=reopened" in journal, "journal lacks lost/reopened")

d = stats("drift")
want(d["dropped_buffers"] == 0, "%d buffers dropped with senders 100 ppm off" % d["dropped_buffers"])
want(d["recorders_running"] == 2 and d["reopens"][:2] == [0, 0], "drift run: running %d, reopens %s" % (d["recorders_running"], d["reopens"][:2]))
want(all(x["lost"] == 0 and x["late"] == 0 for x in d["streams"]), "drift run streams %s" % d["streams"])
if errors: sys.exit("\n".join(errors))
print("levels %s dBFS; SAP stream connected after %.2f s, lost at %.1f s, back at %.1f s; lost packets %d = %d left out"
      " + %d stopped; %.0f s at +/-100 ppm: 0 dropped" % (got, found, watch["lost"], watch["back"], b["lost"],
      sent["dropped"], sent["paused"], d["seconds"]))
EOF
