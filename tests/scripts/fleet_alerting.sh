#!/usr/bin/env bash
# Fleet alerting with the real engines: Debian's Prometheus and Alertmanager,
# started here on 127.0.0.1 with 1 s scrape and evaluation intervals, the
# shipped rules (packaging/prometheus/tarvolin-rules.yml, every `for:` scaled
# from the 15 s intervals it assumes to 1 s), file-based discovery of three
# headless meters on simulated inputs, and a webhook receiver of our own.
# Meter A: 24 steady strips. Meter B: input 3 (strips 5 and 6) is gated, so it
# falls silent and sounds again. Meter C: steady, killed later.
# - B's silence alert for strips 5 and 6, with their labels, reaches the
#   receiver within scrape + evaluation + `for:` + group_wait of the meter's own
#   alarm (its journal line), and resolves when the sound is back;
# - C killed: its TarvolinMeterDown fires; nothing ever fires for A;
# - `promtool check metrics` finds nothing in A's /metrics (24 strips), which
#   has no NaN; the cost of one scrape of it is printed.
# Usage: fleet_alerting.sh BUILD_DIR
set -u
build=${1:?build folder}
src=$(cd "$(dirname "$0")/../.." && pwd)
exe=$build/tarvolin
py=/usr/bin/python3
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
for t in prometheus prometheus-alertmanager promtool; do
  command -v "$t" >/dev/null || { echo "$t missing (apt-get install prometheus prometheus-alertmanager)"; exit 77; }
done
tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do { wait "$p"; } 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$tmp HOME=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*"; for f in "$tmp"/*.err; do [ -s "$f" ] && { echo "== $f"; tail -5 "$f"; }; done; exit 1; }

# Six listening ports below the ephemeral range, free now.
read -r pa pb pc pprom pam phook < <("$py" - <<'PY'
import random, socket
ports = []
for p in random.sample(range(20000, 32000), 400):
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); ports.append(p)
    except OSError:
        pass
    finally:
        s.close()
    if len(ports) == 6:
        break
print(*ports)
PY
)
[ -n "$phook" ] || fail "no free ports"

meter() {  # NAME PORT MODE INPUTS... (K=SIGNAL)
  local name=$1 port=$2 mode=$3; shift 3
  local args=(--headless --audio simulated --settings "$tmp/$name.reg" --set "rg Mode=$mode" --set Samplerate=1
              --set "cb detect=1" --set "db_value2=-40" --set "db_value=351" --set "sec_value=2"
              --set "Edit 5=${name}5" --set "Edit 6=${name}6" --status-port "$port")
  local k
  for k in $(seq 1 12); do args+=(--set "multi_$k=$((k - 1))"); done
  for k in "$@"; do args+=(--sim-input "$k"); done
  mkdir -p "$tmp/$name-data"
  XDG_DATA_HOME=$tmp/$name-data XDG_CONFIG_HOME=$tmp/$name-config \
    "$exe" "${args[@]}" >"$tmp/$name.out" 2>"$tmp/$name.err" &
  pids+=($!)
  eval "pid_$name=$!"
}
steady=()
for k in $(seq 1 12); do steady+=("$k=sine:997:-20"); done
meter A "$pa" 4 "${steady[@]}"
# B's input 3: 12 s of tone, 14 s of silence, again; the others steady.
meter B "$pb" 2 1=sine:997:-20 2=sine:440:-20 3=gated:997:-20:12000:14000 4=sine:997:-20
meter C "$pc" 2 1=sine:997:-20 2=sine:997:-20 3=sine:997:-20 4=sine:997:-20

# The shipped rules, `for:` scaled from 15 s to 1 s intervals (1m -> 4s, 10m -> 40s).
"$py" - "$src/packaging/prometheus/tarvolin-rules.yml" "$tmp/rules.yml" <<'PY'
import re, sys
units = {"s": 1, "m": 60, "h": 3600}
def scale(m):
    secs = int(m.group(2)) * units[m.group(3)]
    return f"{m.group(1)}{max(0, round(secs / 15))}s"
text = open(sys.argv[1]).read()
open(sys.argv[2], "w").write(re.sub(r"^(\s+for: )(\d+)([smh])\s*$", scale, text, flags=re.M))
PY
grep -q 'for: 4s' "$tmp/rules.yml" || fail "rules not scaled"
cat >"$tmp/targets.yml" <<EOF
- targets: ['127.0.0.1:$pa']
  labels: {meter: A}
- targets: ['127.0.0.1:$pb']
  labels: {meter: B}
- targets: ['127.0.0.1:$pc']
  labels: {meter: C}
EOF
cat >"$tmp/prometheus.yml" <<EOF
global: {scrape_interval: 1s, evaluation_interval: 1s, scrape_timeout: 900ms}
rule_files: [rules.yml]
alerting:
  alertmanagers: [{static_configs: [{targets: ['127.0.0.1:$pam']}]}]
scrape_configs:
  - job_name: tarvolin
    file_sd_configs: [{files: ['$tmp/targets.yml'], refresh_interval: 1s}]
EOF
cat >"$tmp/alertmanager.yml" <<EOF
route:
  receiver: hook
  group_by: [alertname, instance]
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: hook
    webhook_configs: [{url: 'http://127.0.0.1:$phook/', send_resolved: true}]
EOF
promtool check config "$tmp/prometheus.yml" >"$tmp/check.txt" 2>&1 || fail "prometheus config: $(cat "$tmp/check.txt")"

# The receiver: every notification as one JSON line with the time it came.
"$py" - "$phook" "$tmp/hook.jsonl" >"$tmp/hook.err" 2>&1 <<'PY' &
import http.server, json, sys, time
port, out = int(sys.argv[1]), sys.argv[2]
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = json.loads(self.rfile.read(int(self.headers["Content-Length"])))
        with open(out, "a") as f:
            f.write(json.dumps({"received": time.time(), "body": body}) + "\n")
        self.send_response(200); self.end_headers()
    def log_message(self, *a): pass
http.server.HTTPServer(("127.0.0.1", port), H).serve_forever()
PY
pids+=($!)
prometheus-alertmanager --config.file "$tmp/alertmanager.yml" --storage.path "$tmp/am" \
  --web.listen-address "127.0.0.1:$pam" --cluster.listen-address= >"$tmp/am.out" 2>"$tmp/am.err" &
pids+=($!)
(cd "$tmp" && exec prometheus --config.file "$tmp/prometheus.yml" --storage.tsdb.path "$tmp/tsdb" \
  --web.listen-address "127.0.0.1:$pprom" >"$tmp/prom.out" 2>"$tmp/prom.err") &
pids+=($!)

# A's /metrics: promtool finds nothing, no NaN, 24 strips; the cost of a scrape.
"$py" - "$pa" "$tmp/metrics.txt" <<'PY' || fail "A's /metrics"
import sys, time, urllib.request
port, out = int(sys.argv[1]), sys.argv[2]
deadline = time.time() + 20
while True:
    try:
        urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=2).read(); break
    except OSError:
        if time.time() > deadline: sys.exit("meter A never answered")
        time.sleep(0.2)
times, size = [], 0
for _ in range(30):              # the server answers 429 above 50 requests a second
    t = time.perf_counter()
    body = urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=2).read()
    times.append(time.perf_counter() - t); size = len(body)
    time.sleep(0.05)
times.sort()
open(out, "wb").write(body)
text = body.decode()
assert "NaN" not in text, "NaN in /metrics"
assert text.count("tarvolin_level_dbfs{") == 24, "not 24 strips"
print(f"one scrape of 24 strips: {size} bytes, {len(text.splitlines())} lines, "
      f"median {times[len(times)//2]*1000:.2f} ms, max {times[-1]*1000:.2f} ms (HTTP over loopback)")
PY
promtool check metrics <"$tmp/metrics.txt" >"$tmp/lint.txt" 2>&1
[ ! -s "$tmp/lint.txt" ] || fail "promtool check metrics: $(cat "$tmp/lint.txt")"

"$py" - "$pprom" "$tmp/hook.jsonl" "$tmp/B-data" "$pa" "$pb" "$pc" "$pid_C" <<'PY' || fail "alerting"
import datetime, glob, json, os, re, signal, sys, time, urllib.parse, urllib.request
pprom, hook, bdata, pa, pb, pc, pidc = sys.argv[1], sys.argv[2], sys.argv[3], *sys.argv[4:7], int(sys.argv[7])
A, B, C = (f"127.0.0.1:{p}" for p in (pa, pb, pc))
# Bound: scrape + evaluation (the sample reaches the rule) + `for:` (0 s, to the
# evaluation tick) + group_wait; 1.5 s more for the HTTP hops and the timers of
# a loaded machine (the suite also runs under the sanitizers).
SCRAPE, EVAL, FOR, GROUP_WAIT = 1.0, 1.0, 0.0, 1.0
BOUND = SCRAPE + EVAL + FOR + GROUP_WAIT + 1.5

def query(q):
    u = f"http://127.0.0.1:{pprom}/api/v1/query?" + urllib.parse.urlencode({"query": q})
    return json.load(urllib.request.urlopen(u, timeout=5))["data"]["result"]

def notes():
    if not os.path.exists(hook): return []
    return [json.loads(l) for l in open(hook)]

def alerts(name=None, status=None, instance=None):
    for n in notes():
        for a in n["body"]["alerts"]:
            if name and a["labels"]["alertname"] != name: continue
            if status and a["status"] != status: continue
            if instance and a["labels"].get("instance") != instance: continue
            yield n["received"], a

def wait(what, cond, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        r = cond()
        if r: return r
        time.sleep(0.1)
    sys.exit(f"timed out: {what}; notifications: {json.dumps(notes())[:2000]}")

wait("Prometheus scrapes the three meters",
     lambda: len([r for r in query('up{job="tarvolin"} == 1')]) == 3, 60)

def fired_for(strips):
    got = {a["labels"].get("strip"): (t, a) for t, a in alerts("TarvolinSilenceAlarm", "firing", B)}
    return got if set(strips) <= set(got) else None
fired = wait("B's silence alert for strips 5 and 6", lambda: fired_for(["5", "6"]), 60)

# The meter's own alarm time: B's journal, "TIME alarm strip=N ...".
alarm_at = {}
for path in glob.glob(os.path.join(bdata, "Tarvolin", "journal", "*.log")):
    for line in open(path):
        m = re.match(r"(\S+) alarm strip=(\d+) ", line)
        if m and m.group(2) not in alarm_at:
            alarm_at[m.group(2)] = datetime.datetime.strptime(m.group(1), "%Y-%m-%dT%H:%M:%S.%f%z").timestamp()
for strip in ("5", "6"):
    t, a = fired[strip]
    labels = a["labels"]
    assert labels["label"] == "B" + strip and labels["meter"] == "B" and labels["severity"] == "critical", labels
    assert {"summary", "description", "runbook_url"} <= set(a["annotations"]), a["annotations"]
    assert strip in alarm_at, f"no journal alarm for strip {strip}"
    delay = t - alarm_at[strip]
    print(f"strip {strip}: alert delivered {delay:.2f} s after the meter's alarm (bound {BOUND:.1f} s)")
    assert 0 <= delay <= BOUND, f"strip {strip}: {delay:.2f} s > {BOUND} s"
assert set(fired) == {"5", "6"}, f"other strips of B alarmed: {sorted(fired)}"

wait("B's silence alert resolves when the sound is back",
     lambda: {a["labels"]["strip"] for _, a in alerts("TarvolinSilenceAlarm", "resolved", B)} >= {"5", "6"}, 30)
print("resolved after the sound came back")

os.kill(pidc, signal.SIGKILL)
killed = time.time()
t, _ = wait("C's TarvolinMeterDown", lambda: next(alerts("TarvolinMeterDown", "firing", C), None), 30)
print(f"meter C killed: TarvolinMeterDown delivered after {t - killed:.1f} s (for: 4s)")

a_alerts = [a["labels"]["alertname"] for _, a in alerts(instance=A)]
assert not a_alerts, f"alerts for meter A: {a_alerts}"
others = {(a["labels"]["alertname"], a["labels"].get("instance")) for _, a in alerts()}
assert others <= {("TarvolinSilenceAlarm", B), ("TarvolinMeterDown", C)}, others
sd = query(f'scrape_duration_seconds{{instance="{A}"}}')[0]["value"][1]
print(f"Prometheus' own scrape of A (24 strips): {float(sd) * 1000:.2f} ms")
PY
echo "PASS"
