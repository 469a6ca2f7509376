#!/usr/bin/env bash
# The live page in headless Firefox, driven over WebDriver BiDi (Firefox's own
# remote protocol; no separate driver), against the headless program on
# simulated inputs with an access token: the login prompt first and nothing
# else; a wrong token refused; with the right one the strips appear, each
# level within 0.5 dB of /status, a label "<b>x</b><script>" shown as text;
# after a reload the token is still known and never in the URL; on a
# phone-sized viewport the page fits the width with every strip on it.
# Usage: live_page_firefox.sh BUILD_DIR
set -u
build=${1:?build folder}
# The whole run in a network namespace of its own with only loopback, when the
# machine allows one: the browser reaches nothing but the program.
if [ -z "${TV_FF_NETNS:-}" ] && command -v unshare >/dev/null && command -v ip >/dev/null &&
   unshare -rn true 2>/dev/null; then
  export TV_FF_NETNS=1
  exec unshare -rn bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
exe=$build/tarvolin
py=/usr/bin/python3
[ -x "$exe" ] || { echo "no $exe"; exit 77; }
command -v firefox-esr >/dev/null || { echo "firefox-esr missing"; exit 77; }
"$py" -c 'import websocket' 2>/dev/null || { echo "python3-websocket missing"; exit 77; }
tmp=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; rm -rf "$tmp"' EXIT
export XDG_RUNTIME_DIR=$tmp XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data HOME=$tmp
chmod 700 "$tmp"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*"; tail -5 "$tmp/err.txt" 2>/dev/null; tail -5 "$tmp/firefox.txt" 2>/dev/null; exit 1; }
free_port() { "$py" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

port=$(free_port)
echo "firefox-page-token-$$-0123" > "$tmp/token"
"$exe" --headless --audio simulated --settings "$tmp/s.reg" --set "rg Mode=2" --set Samplerate=1 \
  --set multi_1=0 --set multi_2=1 --set multi_3=2 --set multi_4=3 --set "Edit 1=<b>x</b><script>" \
  --sim-input 1=sine:997:-20 --sim-input 2=sine:997:-6/sine:440:-35 \
  --status-port "$port" --status-bind 0.0.0.0 --status-token-file "$tmp/token" \
  >"$tmp/out.txt" 2>"$tmp/err.txt" &
pids+=($!)

bidi=$(free_port)
mkdir -p "$tmp/profile"
# Also without the namespace nothing leaves the machine: every other host
# goes to a dead proxy on loopback, and the browser's own services are off.
cat >"$tmp/profile/user.js" <<'PREFS'
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", 9);
user_pref("network.proxy.ssl", "127.0.0.1");
user_pref("network.proxy.ssl_port", 9);
user_pref("network.proxy.socks_remote_dns", true);
user_pref("network.proxy.no_proxies_on", "127.0.0.1");
user_pref("network.trr.mode", 5);
user_pref("network.dns.disablePrefetch", true);
user_pref("network.prefetch-next", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("app.update.disabledForTesting", true);
user_pref("app.normandy.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.update.enabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("services.settings.server", "http://127.0.0.1:9/");
user_pref("messaging-system.rsexperimentloader.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("browser.search.update", false);
user_pref("browser.newtabpage.enabled", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
PREFS
firefox-esr --headless --no-remote --profile "$tmp/profile" --remote-debugging-port "$bidi" \
  --window-size 1280,900 about:blank >"$tmp/firefox.txt" 2>&1 &
pids+=($!)

"$py" - "$port" "$(cat "$tmp/token")" "$bidi" <<'PY' || fail "checks in Firefox"
import json, sys, time, urllib.error, urllib.request
import websocket

port, token, bidi = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
base = f"http://127.0.0.1:{port}"

def until(cond, what, secs=15):
    end = time.time() + secs
    while time.time() < end:
        try:
            v = cond()
        except (OSError, websocket.WebSocketException):
            v = None
        if v:
            return v
        time.sleep(0.1)
    sys.exit("timed out: " + what)

def status():
    req = urllib.request.Request(base + "/status", headers={"Authorization": "Bearer " + token})
    with urllib.request.urlopen(req, timeout=5) as r:
        return json.loads(r.read())

until(status, "the status endpoint")
ws = until(lambda: websocket.create_connection(f"ws://127.0.0.1:{bidi}/session", timeout=30, suppress_origin=True), "Firefox's remote port", 60)
ids = iter(range(1, 1 << 30))

def call(method, **params):
    n = next(ids)
    ws.send(json.dumps({"id": n, "method": method, "params": params}))
    while True:
        m = json.loads(ws.recv())
        if m.get("id") == n:
            if m.get("type") == "error":
                sys.exit(f"{method}: {m.get('error')}: {m.get('message')}")
            return m["result"]

version = call("session.new", capabilities={})["capabilities"].get("browserVersion", "?")
ctx = call("browsingContext.getTree")["contexts"][0]["context"]

def js(expr):
    r = call("script.evaluate", expression=f"JSON.stringify(({expr}) ?? null)", target={"context": ctx},
             awaitPromise=False)
    if r.get("type") == "exception":
        sys.exit(f"script failed: {expr}: {r['exceptionDetails'].get('text')}")
    return json.loads(r["result"]["value"])

def visible(id_):
    return js(f"(() => {{ const e = document.getElementById('{id_}'); return !!e && e.offsetParent !== null; }})()")

call("browsingContext.navigate", context=ctx, url=base + "/", wait="complete")
until(lambda: visible("login"), "login prompt")
assert not visible("meter")
assert js("document.querySelectorAll('#strips .strip').length") == 0

def log_in(t):
    js(f"(() => {{ document.getElementById('token').value = {json.dumps(t)}; "
       "document.querySelector('#login button').click(); })()")

log_in("not-the-token")
until(lambda: "refused" in js("document.getElementById('login-message').textContent"), "wrong token refused")
assert not visible("meter")

log_in(token)
until(lambda: visible("meter"), "meter shown")
until(lambda: js("document.querySelectorAll('#strips .strip[data-level]').length") == 8, "8 strips")

s = status()
levels = js("[...document.querySelectorAll('#strips .strip')].slice(0, 4).map(e => e.getAttribute('data-level'))")
for i, v in enumerate(levels):
    own = s["strips"][i]["level_dbfs"]
    assert abs(float(v) - own) <= 0.5, (i + 1, v, own)
assert abs(float(levels[0]) + 20) <= 0.5, levels[0]

label = js("document.querySelector('#strips .strip[data-strip=\"1\"] .label').textContent")
assert label == s["strips"][0]["label"] and label.startswith("<b>"), label
assert js("document.querySelectorAll('#strips b, #strips script').length") == 0

call("browsingContext.reload", context=ctx, wait="complete")
until(lambda: visible("meter"), "meter after reload")
assert not visible("login")
assert token not in js("location.href")

# A phone's screen: the page fits its width and every strip is on it.
call("browsingContext.setViewport", context=ctx, viewport={"width": 390, "height": 844}, devicePixelRatio=3)
until(lambda: js("innerWidth") == 390, "phone viewport")
fit = js("(() => { const r = [...document.querySelectorAll('#strips .strip')].map(e => e.getBoundingClientRect()); "
         "return {page: document.documentElement.scrollWidth, strips: r.length, "
         "inside: r.every(b => b.width > 0 && b.left >= 0 && b.right <= innerWidth + 0.5)}; })()")
assert fit["page"] <= 390 and fit["strips"] == 8 and fit["inside"], fit
print(f"Firefox {version}: ok")
PY
echo "live page in Firefox: ok"
