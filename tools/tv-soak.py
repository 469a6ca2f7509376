#!/usr/bin/env python3
"""Soak harness of the meter (run it through scripts/soak.sh).

Two instances run side by side for the given time, each with 24 channels,
the silence detector (-40 dBFS, alarm delay 3 s) and the journal on:
  win   the windowed program (offscreen), twelve pairs of a JACK client
        (tv-jack-source -i on a private dummy server);
  head  --headless, twelve pairs of a private PulseAudio server's 24-channel
        null sink monitor, fed by this harness through pacat.
Each has its own settings, config, data and runtime folders; both journals
live on one small tmpfs. Status clients poll both, a webhook receiver here
gets every alarm and restore with its arrival time, and both run under
libfaketime so the wall clock can be stepped (monotonic time is not faked).

The harness mutes channels at known times (short pauses that must not alarm,
long silences that must alarm once and restore once) and injects a fault at
every interval, drawn from a shuffled deck of the kinds below. Faults that
stop the audio are silences of all 24 strips of their instance: from the
fault to the moment the strips sound again.
At the end it checks the events against that truth, the journals against the
events, resident memory, and that no recorder was left dead, and writes
report.txt. Exit status 0 passed, 1 failed, 77 a needed server or tool is
missing.
"""

import argparse
import array
import http.server
import json
import math
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SKIP = 77
KINDS = ("pulse-server", "jack-server", "jack-client", "disk-full", "settings-readonly", "hostile-http",
         "clock-step")
STRIPS, PAIRS = 24, 12
THRESHOLD_DB = -40.0
ALARM_DELAY = 3          # seconds ("sec_value")
RATE = 48000
# A silence of at least this long alarms for sure; one of at most SHORT_MAX
# never does (the check runs once a second: the alarm comes 4-6 s after a
# silence starts with a 3 s delay, see monitoring/MMSilence.cpp).
LONG_MIN = ALARM_DELAY + 2.5
SHORT_MAX = ALARM_DELAY - 1.5
SLACK = 4.0              # extra seconds allowed for a loaded machine
FAKETIME_LIBS = ("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1",
                 "/usr/lib/faketime/libfaketimeMT.so.1")
PULSE_MAP = ("front-left,front-right,rear-left,rear-right,front-center,lfe,side-left,side-right," +
             ",".join(f"aux{i}" for i in range(16)))

T0 = time.monotonic()


def now():
    return time.monotonic() - T0


def clock_text(t):
    t = int(t)
    return f"{t // 3600:02d}:{t // 60 % 60:02d}:{t % 60:02d}"


class Skip(Exception):
    pass


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)
        self.lock = threading.Lock()

    def __call__(self, msg):
        line = f"[{clock_text(now())} {now():9.1f}] {msg}"
        with self.lock:
            print(line, flush=True)
            self.file.write(line + "\n")


log = None


def wait_for(cond, timeout, step=0.1):
    end = time.monotonic() + timeout
    while True:
        if cond():
            return True
        if time.monotonic() >= end:
            return False
        time.sleep(step)


def free_port(taken):
    # Below 32768: the ephemeral range can be held by outgoing connections.
    rng = random.Random()
    for _ in range(200):
        p = rng.randrange(20000, 32000)
        if p in taken:
            continue
        s = socket.socket()
        try:
            s.bind(("127.0.0.1", p))
        except OSError:
            continue
        finally:
            s.close()
        taken.add(p)
        return p
    raise RuntimeError("no free port below 32768")


def run_quiet(cmd, env, timeout=20):
    try:
        r = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout, text=True)
        return r.returncode, r.stdout
    except (OSError, subprocess.TimeoutExpired) as e:
        return -1, str(e)


def pid_alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(") ")[-1][0] != "Z"
    except OSError:
        return False


# ---------------------------------------------------------------------------
# Audio sources

class PulseServer:
    """A private PulseAudio server with a 24-channel null sink whose monitor is
    the default source, fed with 24 tones by pacat; channels can be muted."""

    def __init__(self, run_dir, out_dir):
        self.dir = os.path.join(run_dir, "pulse")
        os.makedirs(self.dir, mode=0o700)
        self.log = os.path.join(out_dir, "pulse.log")
        self.env = dict(os.environ, PULSE_RUNTIME_PATH=self.dir)
        for k in ("PULSE_SERVER", "PULSE_SOURCE", "PULSE_SINK"):
            self.env.pop(k, None)
        self.mask = 0
        self.lock = threading.Lock()
        self.pacat = None
        self.feeder = None
        # One second of each channel's tone (whole cycles: the second loops).
        self.tones = []
        for c in range(STRIPS):
            f, amp = 300 + 40 * (c + 1), 32767 * 10 ** ((-6 - 0.5 * c) / 20)
            self.tones.append(array.array("h", (round(amp * math.sin(2 * math.pi * f * i / RATE))
                                                for i in range(RATE))))

    def pid(self):
        try:
            with open(os.path.join(self.dir, "pid")) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            return None

    def start(self):
        rc, out = run_quiet(["pulseaudio", "-D", "-n", "--exit-idle-time=-1", "--disallow-exit",
                             "--log-target=file:" + self.log,
                             "--load=module-native-protocol-unix auth-anonymous=1"], self.env)
        if rc != 0:
            return "pulseaudio did not start: " + out.strip()[-300:]
        if not wait_for(lambda: run_quiet(["pactl", "info"], self.env, 5)[0] == 0, 10, 0.1):
            return "pulseaudio does not answer"
        rc, out = run_quiet(["pactl", "load-module", "module-null-sink", "sink_name=soak24", "channels=24",
                             "rate=48000", "channel_map=" + PULSE_MAP], self.env)
        if rc != 0:
            return "cannot load the 24-channel null sink: " + out.strip()
        for cmd in (["pactl", "set-default-source", "soak24.monitor"], ["pactl", "set-default-sink", "soak24"]):
            if run_quiet(cmd, self.env)[0] != 0:
                return "pactl " + " ".join(cmd[1:]) + " failed"
        self.pacat = subprocess.Popen(["pacat", "--playback", "--device=soak24", "--rate=48000", "--channels=24",
                                       "--format=s16le", "--latency-msec=60", "--channel-map=" + PULSE_MAP],
                                      stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, env=self.env)
        self.feeder = threading.Thread(target=self._feed, args=(self.pacat,), daemon=True)
        self.feeder.start()
        return None

    def _feed(self, pacat):
        block = RATE // 20
        buf = array.array("h", bytes(2 * STRIPS * block))
        zero = array.array("h", bytes(2 * block))
        pos = 0
        try:
            while pacat.poll() is None:
                with self.lock:
                    mask = self.mask
                for c in range(STRIPS):
                    buf[c::STRIPS] = zero if mask >> c & 1 else self.tones[c][pos:pos + block]
                pacat.stdin.write(buf.tobytes())
                pos = (pos + block) % RATE
        except (OSError, ValueError):
            pass

    def mute(self, strips, on):
        bits = sum(1 << (s - 1) for s in strips)
        with self.lock:
            self.mask = self.mask | bits if on else self.mask & ~bits

    def kill(self):
        """Kills the server as a crash would (SIGKILL); the player goes with it."""
        pid = self.pid()
        if pid:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            wait_for(lambda: not pid_alive(pid), 5)
        self._reap_player()

    def _reap_player(self):
        if self.pacat:
            try:
                self.pacat.stdin.close()
            except OSError:
                pass
            try:
                self.pacat.wait(3)
            except subprocess.TimeoutExpired:
                self.pacat.kill()
                self.pacat.wait()
            self.pacat = None

    def stop(self):
        self._reap_player()
        pid = self.pid()
        run_quiet(["pulseaudio", "--kill"], self.env, 10)
        if pid:
            wait_for(lambda: not pid_alive(pid), 5)
            if pid_alive(pid):
                os.kill(pid, signal.SIGKILL)


class JackServer:
    """A private JACK dummy server and tv-jack-source -i as client "tv_source"."""

    def __init__(self, tool, out_dir):
        self.name = f"soak{os.getpid()}"
        self.tool = tool
        self.env = dict(os.environ, JACK_DEFAULT_SERVER=self.name, JACK_NO_START_SERVER="1",
                        JACK_NO_AUDIO_RESERVATION="1")
        self.log = open(os.path.join(out_dir, "jackd.log"), "a")
        self.server = None
        self.source = None
        self.mask = set()

    def ports_up(self):
        rc, out = run_quiet(["jack_lsp"], self.env, 5)
        return rc == 0 and "tv_source:out_24" in out

    def start(self):
        self.server = subprocess.Popen(["jackd", "-n", self.name, "-d", "dummy", "-r", "48000", "-p", "512",
                                        "-C", "2", "-P", "2"], stdout=self.log, stderr=subprocess.STDOUT,
                                       env=self.env)
        if not wait_for(lambda: run_quiet(["jack_lsp"], self.env, 5)[0] == 0, 15, 0.1):
            return "the JACK server did not start"
        return self.start_source()

    def start_source(self):
        self.source = subprocess.Popen([self.tool, "-i", "-c", "tv_source"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=self.log, env=self.env, text=True, bufsize=1)
        if not wait_for(self.ports_up, 10, 0.1):
            return "tv-jack-source did not register its ports"
        if self.mask:
            self._send("mute " + " ".join(map(str, sorted(self.mask))))
        return None

    def _send(self, line):
        src = self.source
        if not src or src.poll() is not None:
            return False
        try:
            src.stdin.write(line + "\n")
            src.stdin.flush()
            return src.stdout.readline().strip() == "ok"
        except (OSError, ValueError):
            return False

    def mute(self, strips, on):
        (self.mask.update if on else self.mask.difference_update)(strips)
        self._send(("mute " if on else "unmute ") + " ".join(map(str, strips)))

    def stop_source(self):
        src, self.source = self.source, None
        if src:
            try:
                src.stdin.close()
            except OSError:
                pass
            try:
                src.wait(5)
            except subprocess.TimeoutExpired:
                src.kill()
                src.wait()

    def kill(self):
        """Kills the server as a crash would (SIGKILL); its client goes too."""
        if self.server:
            self.server.kill()
            self.server.wait()
            self.server = None
        self.stop_source()

    def stop(self):
        self.stop_source()
        if self.server:
            self.server.terminate()
            try:
                self.server.wait(10)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None


# ---------------------------------------------------------------------------
# The wall clock of both instances (libfaketime, monotonic time untouched)

class WallClock:
    def __init__(self, run_dir, lib, lead_seconds):
        self.path = os.path.join(run_dir, "faketime.rc")
        self.lib = lib
        self.steps = []  # (harness time, offset seconds)
        offset = 0
        if lib:
            # Start shortly before a local midnight: the journal changes files
            # during the run, and the steps move it across that midnight.
            real = time.time()
            lt = time.localtime(real + lead_seconds + 86400)
            midnight = time.mktime((lt.tm_year, lt.tm_mon, lt.tm_mday, 0, 0, 0, 0, 0, -1))
            offset = int(midnight - lead_seconds - real) % 86400
        self.set(offset)

    def set(self, offset):
        tmp = self.path + ".new"
        with open(tmp, "w") as f:
            f.write(f"{offset:+d}\n")
        os.replace(tmp, self.path)
        self.steps.append((now(), offset))

    def offset(self):
        return self.steps[-1][1]

    def offsets_at(self, t):
        """Offsets that may be in effect at harness time t (libfaketime re-reads
        its file once a second)."""
        cur = [o for (ts, o) in self.steps if ts <= t]
        out = {cur[-1]} if cur else {self.steps[0][1]}
        for ts, o in self.steps:
            if t - 2.0 <= ts <= t + 0.5:
                out.add(o)
                prev = [p for (tp, p) in self.steps if tp < ts]
                if prev:
                    out.add(prev[-1])
        return out

    def env(self):
        if not self.lib:
            return {}
        env = {"LD_PRELOAD": self.lib, "FAKETIME_TIMESTAMP_FILE": self.path, "FAKETIME_CACHE_DURATION": "1",
               "FAKETIME_DONT_FAKE_MONOTONIC": "1"}
        # A sanitizer build refuses to start with a library preloaded before its runtime.
        # Leaks are the unit tests' business: an instance ended by SIGTERM beside
        # libfaketime can leave Qt's HTTP thread object unfreed (about 1 kB, Qt
        # hands it to a deleteLater after its stop wait runs out), which says
        # nothing about the meter. Memory errors still stop the instance.
        asan = os.environ.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0:detect_leaks=0"
        return env


# ---------------------------------------------------------------------------
# The meter instances

class Instance:
    def __init__(self, name, headless, exe, run_dir, out_dir, data_root, port):
        self.name, self.headless, self.exe, self.port = name, headless, exe, port
        self.home = os.path.join(run_dir, name)
        self.settings = os.path.join(self.home, "settings.reg")
        self.data = os.path.join(data_root, name)
        self.journal = os.path.join(self.data, "Tarvolin", "journal")
        self.out = os.path.join(out_dir, name)
        os.makedirs(self.out, exist_ok=True)
        for d in ("config", "home", "xdg"):
            os.makedirs(os.path.join(self.home, d), mode=0o700, exist_ok=True)
        os.makedirs(self.data, exist_ok=True)
        self.stdout = os.path.join(self.out, "stdout.txt")
        self.stderr = os.path.join(self.out, "stderr.txt")
        self.logout = os.path.join(self.out, "log-out.txt")
        self.proc = None
        self.exit = None          # (return code, how it ended)
        self.hangs = []           # [from, to or None]: /status unanswered for 15 s or more
        self.backtraces = []      # gdb's stacks: one taken 15 s into each hang, one if it ignored SIGTERM
        self.devices = {}

    def env(self, base):
        env = dict(base)
        for k in ("DISPLAY", "WAYLAND_DISPLAY", "SESSION_MANAGER"):
            env.pop(k, None)
        env.update(HOME=os.path.join(self.home, "home"), XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                   XDG_RUNTIME_DIR=os.path.join(self.home, "xdg"), XDG_DATA_HOME=self.data)
        if self.headless:
            env.pop("QT_QPA_PLATFORM", None)
        else:
            env["QT_QPA_PLATFORM"] = "offscreen"
        return env

    def list_devices(self, env):
        rc, out = run_quiet([self.exe, "--audio", "portaudio", "--list-devices"], env, 60)
        devices, section = {}, None
        for line in out.splitlines():
            if line.startswith("Input"):
                section = "in"
            elif line.startswith("Output"):
                section = "out"
            m = re.match(r"^\s+(-?\d+)\s+(.+?)\s+\[([^,\]]+)", line)
            if section == "in" and m and int(m.group(1)) >= 0:
                devices.setdefault(m.group(2), int(m.group(1)))
        return devices

    def start(self, env, prefix, webhook_port, device_prefix):
        args = [self.exe, "--audio", "portaudio", "--settings", self.settings, "--set", "is Sound=1",
                "--set", "rg Mode=4", "--set", "Samplerate=1", "--set", "cb detect=1",
                "--set", "db_value2=-40", "--set", "db_value=351", "--set", f"sec_value={ALARM_DELAY}",
                "--set", "Recovery Seconds=0",
                "--set", f"Action Alarm URL=http://127.0.0.1:{webhook_port}/{self.name}",
                "--set", f"Action Restored URL=http://127.0.0.1:{webhook_port}/{self.name}",
                "--status-port", str(self.port), "--log-out", self.logout, "--stats"]
        for k in range(1, PAIRS + 1):
            name = f"{device_prefix} ({2 * k - 1}-{2 * k})"
            args += ["--set", f"multi_{k}={self.devices[name]}", "--set", f"multi_{k} name={name}"]
        if self.headless:
            args.append("--headless")
        self.proc = subprocess.Popen(prefix + args, env=env, stdout=open(self.stdout, "w"),
                                     stderr=open(self.stderr, "w"), stdin=subprocess.DEVNULL)

    @property
    def hung_at(self):
        """Start of the hang going on now, or None."""
        return self.hangs[-1][0] if self.hangs and self.hangs[-1][1] is None else None

    def take_backtrace(self, name):
        if not shutil.which("gdb") or not self.alive():
            return
        rc, out = run_quiet(["gdb", "-p", str(self.proc.pid), "-batch", "-ex", "thread apply all bt 30"],
                            os.environ, 90)
        path = os.path.join(self.out, name)
        with open(path, "w") as f:
            f.write(out)
        self.backtraces.append(path)

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def rss_kb(self):
        try:
            with open(f"/proc/{self.proc.pid}/status") as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
        except (OSError, AttributeError):
            pass
        return None

    def stderr_size(self):
        try:
            return os.path.getsize(self.stderr)
        except OSError:
            return 0

    def stderr_since(self, offset, limit=12, end=None):
        try:
            with open(self.stderr, "rb") as f:
                f.seek(offset)
                data = f.read() if end is None else f.read(max(0, end - offset))
                lines = [l.rstrip() for l in data.decode(errors="replace").splitlines() if l.strip()]
        except OSError:
            return []
        return lines[:limit] + ([f"... ({len(lines) - limit} more lines)"] if len(lines) > limit else [])

    def stop(self, grace):
        if self.proc is None or self.exit is not None:
            return
        if self.proc.poll() is not None:
            self.exit = (self.proc.returncode, "ended by itself before the stop")
            return
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(grace)
            self.exit = (self.proc.returncode, "stopped with SIGTERM")
            return
        except subprocess.TimeoutExpired:
            pass
        self.take_backtrace("stop-backtrace.txt")
        self.proc.kill()
        self.proc.wait()
        self.exit = (self.proc.returncode, f"did not end {grace:.0f} s after SIGTERM; killed")

    def stats(self):
        try:
            with open(self.stdout) as f:
                lines = [l for l in f.read().splitlines() if l.startswith("{")]
            return json.loads(lines[-1]) if lines else None
        except (OSError, ValueError):
            return None


# ---------------------------------------------------------------------------
# Observers: status clients, the webhook receiver

class Poller(threading.Thread):
    """Polls /status every second and /metrics every ten; keeps what the checks
    need (when each strip last sounded, answer gaps) and the state changes."""

    def __init__(self, inst):
        super().__init__(daemon=True)
        self.inst = inst
        self.stop_flag = threading.Event()
        self.lock = threading.Lock()
        self.last = None            # the latest /status
        self.last_t = None
        self.ok = self.failed = self.too_many = 0
        self.metrics_ok = self.metrics_bad = 0
        self.metrics_fault = None
        self.gap_since = None       # harness time of the first failure of the current gap
        self.gaps = []              # (from, to) without an answer, longer than 10 s
        self.sounding_since = [None] * STRIPS
        self.last_sounding = [None] * STRIPS
        self.states = [None] * STRIPS
        self.trace = open(os.path.join(inst.out, "status-changes.txt"), "w", buffering=1)

    def get(self, path, timeout=3):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.inst.port}{path}", timeout=timeout) as r:
            return r.status, r.read().decode()

    def run(self):
        n = 0
        while not self.stop_flag.wait(1.0):
            n += 1
            t = now()
            try:
                code, body = self.get("/status")
                s = json.loads(body)
                self.record(t, s)
            except urllib.error.HTTPError as e:
                if e.code == 429:
                    with self.lock:
                        self.too_many += 1
                    self.answered(t)
                else:
                    self.failure(t)
            except (OSError, ValueError):
                self.failure(t)
            if n % 10 == 0 and self.gap_since is None:
                try:
                    code, text = self.get("/metrics")
                    if "tarvolin_up 1" in text and "tarvolin_recorder_running" in text:
                        self.metrics_ok += 1
                    else:
                        self.metrics_bad += 1
                        self.metrics_fault = text[:200]
                except urllib.error.HTTPError as e:
                    if e.code != 429:
                        self.metrics_bad += 1
                except (OSError, ValueError) as e:
                    self.metrics_bad += 1
                    self.metrics_fault = str(e)

    def answered(self, t):
        with self.lock:
            if self.gap_since is not None:
                if t - self.gap_since > 10:
                    self.gaps.append((self.gap_since, t))
                    log(f"{self.inst.name}: /status answers again after {t - self.gap_since:.1f} s")
                self.gap_since = None

    def failure(self, t):
        with self.lock:
            self.failed += 1
            if self.gap_since is None:
                self.gap_since = t

    def record(self, t, s):
        self.answered(t)
        changes = []
        with self.lock:
            self.ok += 1
            self.last, self.last_t = s, t
            for i, strip in enumerate(s["strips"][:STRIPS]):
                lvl = strip.get("level_dbfs")
                sounding = strip["state"] == "sounding" and lvl is not None and lvl > THRESHOLD_DB
                if sounding:
                    self.last_sounding[i] = t
                    if self.sounding_since[i] is None:
                        self.sounding_since[i] = t
                else:
                    self.sounding_since[i] = None
                if strip["state"] != self.states[i]:
                    changes.append(f"{i + 1}:{self.states[i]}->{strip['state']}")
                    self.states[i] = strip["state"]
        if changes:
            run = "".join("R" if r["running"] else "-" for r in s["recorders"][:PAIRS])
            self.trace.write(f"{t:9.1f} {' '.join(changes)} recorders={run}\n")

    def sounding_after(self, strips, t):
        """True when every strip in `strips` sounded in a poll after harness time t."""
        with self.lock:
            return all(self.last_sounding[s - 1] is not None and self.last_sounding[s - 1] > t for s in strips)

    def first_sounding_after(self, strip, t):
        with self.lock:
            since = self.sounding_since[strip - 1]
            return since if since is not None and since > t else None

    def gap_now(self):
        with self.lock:
            return None if self.gap_since is None else now() - self.gap_since


class WebhookSink:
    """Receives the instances' alarm and restore POSTs; path /NAME says which."""

    def __init__(self, port, out_dir):
        self.events = {}  # name -> [(arrival, event dict)]
        self.lock = threading.Lock()
        self.file = open(os.path.join(out_dir, "webhook.jsonl"), "w", buffering=1)
        sink = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                t = now()
                n = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(min(n, 65536))
                try:
                    e = json.loads(body)
                except ValueError:
                    e = {"unparsed": body.decode(errors="replace")}
                name = self.path.strip("/")
                with sink.lock:
                    sink.events.setdefault(name, []).append((t, e))
                    sink.file.write(json.dumps({"t": round(t, 3), "instance": name, **e}) + "\n")
                self.send_response(200)
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"ok")

            def log_message(self, *a):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def of(self, name):
        with self.lock:
            return list(self.events.get(name, []))

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------------------
# Hostile HTTP clients (loopback only, bounded in count and time)

def hostile_burst(port, rng):
    """Garbage, oversized headers, slow and idle connections and a request
    flood against one status port, about 6 s. Returns what happened."""
    deadline = time.monotonic() + 25   # a server that stops answering must not hold the burst
    res = {"garbage": 0, "oversized_answered_200": False, "idle_open": 0, "slow": 0, "flood_200": 0,
           "flood_429": 0, "flood_other": 0, "odd_answers": {}, "probe_ms": None}

    def conn():
        return socket.create_connection(("127.0.0.1", port), timeout=5)

    def exchange(data):
        out = b""
        if time.monotonic() > deadline:
            return out
        try:
            s = conn()
        except OSError:
            return out
        try:
            s.sendall(data)
            s.settimeout(4)
            while len(out) < 1 << 20:
                b = s.recv(65536)
                if not b:
                    break
                out += b
        except OSError:
            pass
        finally:
            s.close()
        return out

    for _ in range(10):
        exchange(bytes(rng.getrandbits(8) for _ in range(5000)) + b"\r\n\r\n")
        res["garbage"] += 1
    big = exchange(b"GET /status HTTP/1.1\r\nHost: x\r\n" + (b"X-Fill: " + b"z" * 1000 + b"\r\n") * 1024 + b"\r\n")
    res["oversized_answered_200"] = big.startswith(b"HTTP/1.1 200")
    for name, req in (("post", b"POST /status HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}"),
                      ("traversal", b"GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n"),
                      ("long-url", b"GET /status?" + b"q" * 9000 + b" HTTP/1.1\r\nHost: x\r\n\r\n"),
                      ("http09", b"GET /\r\n\r\n")):
        reply = exchange(req)
        res["odd_answers"][name] = reply.split(b"\r\n", 1)[0].decode(errors="replace")[:40] or "(closed)"
    idle, slow = [], []
    for _ in range(200):
        if time.monotonic() > deadline:
            break
        try:
            idle.append(conn())
        except OSError:
            break
    res["idle_open"] = len(idle)
    for _ in range(20):
        try:
            s = conn()
            s.sendall(b"GET /status HTTP/1.1\r\n")
            slow.append(s)
        except OSError:
            break
    res["slow"] = len(slow)

    def flood(n):
        for _ in range(n):
            if time.monotonic() > deadline:
                return
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=3) as r:
                    r.read()
                    res["flood_200"] += 1
            except urllib.error.HTTPError as e:
                res["flood_429" if e.code == 429 else "flood_other"] += 1
            except OSError:
                res["flood_other"] += 1

    flooders = [threading.Thread(target=flood, args=(150,)) for _ in range(2)]
    for f in flooders:
        f.start()
    end = time.monotonic() + 3
    while time.monotonic() < end:
        for s in slow:
            try:
                s.send(b"X")
            except OSError:
                pass
        time.sleep(0.2)
    for f in flooders:
        f.join(30)
    # /status beside the idle and slow connections still held.
    t = time.monotonic()
    for _ in range(10):
        if time.monotonic() > deadline + 5:
            break
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/status", timeout=5) as r:
                r.read()
            res["probe_ms"] = round((time.monotonic() - t) * 1000)
            break
        except urllib.error.HTTPError:
            time.sleep(0.1)  # 429 right after the flood
        except OSError:
            break
    for s in idle + slow:
        s.close()
    return res


# ---------------------------------------------------------------------------
# Ground truth of the silences

class Silence:
    def __init__(self, inst, strip, t0, cause):
        self.inst, self.strip, self.t0, self.cause = inst, strip, t0, cause
        self.t1_lo = self.t1_hi = None   # the sound came back between these (None: open)
        self.dead = False                # the strip never sounded again after it

    def length_lo(self):
        return (self.t1_lo if self.t1_lo is not None else math.inf) - self.t0

    def expect(self):
        if self.length_lo() >= LONG_MIN:
            return "alarm"
        # Both ends pass the same route: its latency does not change the length.
        if self.t1_lo is not None and not self.dead and self.t1_lo - self.t0 <= SHORT_MAX:
            return "none"
        return "either"


class Truth:
    def __init__(self):
        self.lock = threading.Lock()
        self.silences = {}      # inst name -> strip -> [Silence]
        self.busy = {}          # inst name -> strip -> harness time it is free again
        self.reserved = {}      # inst name -> set of strips a fault holds

    def add(self, inst, strips, t0, cause):
        out = []
        with self.lock:
            for s in strips:
                x = Silence(inst, s, t0, cause)
                self.silences.setdefault(inst, {}).setdefault(s, []).append(x)
                out.append(x)
        return out

    def of(self, inst, strip):
        with self.lock:
            return list(self.silences.get(inst, {}).get(strip, []))

    def free(self, inst, t):
        with self.lock:
            b = self.busy.setdefault(inst, {})
            r = self.reserved.setdefault(inst, set())
            return [s for s in range(1, STRIPS + 1) if b.get(s, 0) <= t and s not in r]

    def hold(self, inst, strips, until=None):
        with self.lock:
            r = self.reserved.setdefault(inst, set())
            if until is None:
                r.update(strips)
            else:
                r.difference_update(strips)
                b = self.busy.setdefault(inst, {})
                for s in strips:
                    b[s] = max(b.get(s, 0), until)


# ---------------------------------------------------------------------------
# The soak

class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.out = args.out
        self.run_dir = tempfile.mkdtemp(prefix="tv-soak.")
        os.chmod(self.run_dir, 0o700)
        self.notes = []          # what could not be done, said in the report
        self.faults = []         # dicts: kind, start, end, target, detail
        self.truth = Truth()
        self.rss = {"win": [], "head": []}
        self.mounted = None
        self.stop_flag = False
        self.fault_thread = None
        self.current_fault = None
        self.next_fault_kind = None
        self.next_fault_at = None
        self.pending_unmutes = []   # (time, inst, strips, silences)
        self.disk_full_windows = []
        self.readonly_windows = []
        self.hostile_windows = []
        self.step_sign = self.rng.choice((1, -1))
        short = args.short
        self.hold = {"server": 6 if short else 10, "jack-client": 12 if short else 30,
                     "disk-full": 8 if short else 20, "readonly": 8 if short else 20}
        self.recover_max = 12 if short else 30

    def expected_duration(self, kind):
        h = self.hold
        return {"pulse-server": h["server"] + 8, "jack-server": h["server"] + 8,
                "jack-client": h["jack-client"] + 5, "disk-full": h["disk-full"] + 5,
                "settings-readonly": h["readonly"], "hostile-http": 15, "clock-step": 11}[kind]

    # -- set-up ------------------------------------------------------------

    def setup(self):
        a = self.args
        exe = os.path.join(a.build, "tarvolin")
        tool = os.path.join(a.build, "tv-jack-source")
        if not os.access(exe, os.X_OK):
            raise Skip(f"no {exe}")
        if not os.access(tool, os.X_OK):
            raise Skip(f"no {tool} (built when JACK's headers are installed)")
        for c in ("pulseaudio", "pactl", "pacat", "jackd", "jack_lsp"):
            if not shutil.which(c):
                raise Skip(f"{c} is not installed")
        lib = next((l for l in FAKETIME_LIBS if os.path.exists(l)), None)
        if not lib:
            self.notes.append("libfaketime is not installed: the clock-step fault is left out")
        lead = min(max(60.0, a.hours * 3600 / 3), 300.0)
        self.clock = WallClock(self.run_dir, lib, lead)
        # The journals' disk: a small tmpfs (its own mount namespace when
        # scripts/soak.sh could make one).
        data_root = os.path.join(self.run_dir, "disk")
        os.makedirs(data_root)
        size = "4m" if a.short else "32m"
        rc, out = run_quiet(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tv-soak", data_root], os.environ)
        if rc == 0:
            self.mounted = data_root
        else:
            self.notes.append(f"cannot mount a tmpfs ({out.strip()}): the disk-full fault is left out")
        self.kinds = [k for k in (a.faults or KINDS)
                      if not (k == "clock-step" and not lib) and not (k == "disk-full" and not self.mounted)]
        self.prefix = []
        if shutil.which("setpriv"):
            # Root ignores file modes; without these two capabilities a
            # read-only settings file is read-only for the instances too.
            self.prefix = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"]
        elif "settings-readonly" in self.kinds:
            self.notes.append("setpriv is missing: the instances run as root, which ignores a read-only mode")

        self.pulse = PulseServer(self.run_dir, self.out)
        err = self.pulse.start()
        if err:
            raise Skip(err)
        self.jack = JackServer(tool, self.out)
        err = self.jack.start()
        if err:
            raise Skip(err)

        taken = set()
        self.webhook = WebhookSink(free_port(taken), self.out)
        self.win = Instance("win", False, exe, self.run_dir, self.out, data_root, free_port(taken))
        self.head = Instance("head", True, exe, self.run_dir, self.out, data_root, free_port(taken))
        self.insts = {"win": self.win, "head": self.head}
        # Each instance sees only its own server.
        base = {k: v for k, v in os.environ.items() if not k.startswith(("PULSE_", "JACK_"))}
        env_win = self.win.env(dict(base, **{k: v for k, v in self.jack.env.items() if k.startswith("JACK_")},
                                    PULSE_SERVER="unix:" + os.path.join(self.run_dir, "no-pulse")))
        env_head = self.head.env(dict(base, PULSE_RUNTIME_PATH=self.pulse.dir, JACK_DEFAULT_SERVER="none",
                                      JACK_NO_START_SERVER="1"))
        self.win.devices = self.win.list_devices(env_win)
        self.head.devices = self.head.list_devices(env_head)
        for inst, prefix in ((self.win, "tv_source"), (self.head, "pulse")):
            missing = [f"{prefix} ({2 * k - 1}-{2 * k})" for k in range(1, PAIRS + 1)
                       if f"{prefix} ({2 * k - 1}-{2 * k})" not in inst.devices]
            if missing:
                raise Skip(f"PortAudio lists no {missing[0]!r} for {inst.name}")
        fenv = self.clock.env()
        self.win.start(dict(env_win, **fenv), self.prefix, self.webhook.server.server_port, "tv_source")
        self.head.start(dict(env_head, **fenv), self.prefix, self.webhook.server.server_port, "pulse")
        self.pollers = {n: Poller(i) for n, i in self.insts.items()}
        for p in self.pollers.values():
            p.start()
        log(f"instances started: win pid {self.win.proc.pid} port {self.win.port}, "
            f"head pid {self.head.proc.pid} port {self.head.port}; faults: {', '.join(self.kinds)}")
        ok = wait_for(lambda: all(p.sounding_after(range(1, STRIPS + 1), 0) for p in self.pollers.values())
                      or not all(i.alive() for i in self.insts.values()), 60, 0.5)
        if not ok or not all(i.alive() for i in self.insts.values()):
            for n, p in self.pollers.items():
                quiet = [s for s in range(1, STRIPS + 1) if not p.sounding_after([s], 0)]
                if quiet:
                    self.notes.append(f"{n}: strips never sounded after the start: {quiet}")
            for n, i in self.insts.items():
                if not i.alive():
                    with open(i.stderr, errors="replace") as f:
                        first = f.readline().strip()
                    self.notes.append(f"{n}: exited with status {i.proc.returncode} at the start: {first}")
            raise RuntimeError("the instances did not meter all 24 channels within 60 s of the start")
        self.metering_from = now()
        log("both instances meter all 24 channels")

    # -- muting ------------------------------------------------------------

    def source(self, inst):
        return self.jack if inst == "win" else self.pulse

    def mute(self, inst, strips, seconds, cause):
        """Silences strips of an instance now, for `seconds`."""
        self.truth.hold(inst, strips)
        self.source(inst).mute(strips, True)
        t0 = now()
        sil = self.truth.add(inst, strips, t0, cause)
        self.pending_unmutes.append((t0 + seconds, inst, strips, sil))
        return sil

    def unmute_due(self, force=False):
        keep = []
        for item in self.pending_unmutes:
            t, inst, strips, sil = item
            if t <= now() or force:
                self.source(inst).mute(strips, False)
                t1 = now()
                for x in sil:
                    x.t1_lo, x.t1_hi = t1, t1 + 0.6   # the route's latency (pacat buffers 60 ms)
                self.truth.hold(inst, strips, until=t1 + 5)
            else:
                keep.append(item)
        self.pending_unmutes = keep

    def audio_fault_near(self, inst, within):
        kind, at = self.next_fault_kind, self.next_fault_at
        hits = {"pulse-server": "head", "jack-server": "win", "jack-client": "win"}
        if self.current_fault and hits.get(self.current_fault) == inst:
            return True
        return kind is not None and hits.get(kind) == inst and at is not None and at - now() < within

    def maybe_inject(self, inst):
        """Every few seconds: a long silence or a short pause on a few free strips."""
        if self.rng.random() > 0.5:
            return
        long = self.rng.random() < 0.6
        seconds = self.rng.uniform(LONG_MIN + 2.5, LONG_MIN + 5) if long else self.rng.uniform(0.4, SHORT_MAX - 0.4)
        if self.audio_fault_near(inst, seconds + 8) or now() + seconds > self.quiet_from:
            return
        poller = self.pollers[inst]
        free = [s for s in self.truth.free(inst, now()) if poller.first_sounding_after(s, now() - 1e9) is not None
                and poller.sounding_after([s], now() - 2.5)]
        if not free:
            return
        if self.rng.random() < 0.5:
            pair = self.rng.randrange(PAIRS)
            strips = [s for s in (2 * pair + 1, 2 * pair + 2) if s in free]
        else:
            strips = self.rng.sample(free, min(len(free), self.rng.randint(1, 4)))
        if strips:
            self.mute(inst, sorted(strips), seconds, "long silence" if long else "short pause")

    # -- faults ------------------------------------------------------------

    def fault(self, kind, target, detail=""):
        f = {"kind": kind, "start": now(), "end": None, "target": target, "detail": detail,
             "stderr": {n: i.stderr_size() for n, i in self.insts.items()}, "problems": []}
        self.faults.append(f)
        log(f"fault {len(self.faults)}: {kind} ({target}) {detail}")
        return f

    def wait_free(self, inst, strips, timeout=20):
        return wait_for(lambda: all(s in self.truth.free(inst, now()) for s in strips), timeout, 0.2)

    def audio_outage(self, f, inst, stop, restart, hold):
        """Stops an instance's audio, restarts it after `hold` seconds and
        records the silence of all its strips until they sound again."""
        all_strips = list(range(1, STRIPS + 1))
        self.wait_free(inst, all_strips)
        self.truth.hold(inst, all_strips)
        t0 = now()
        stop()
        sil = self.truth.add(inst, all_strips, t0, f["kind"])
        time.sleep(hold)
        err = restart()
        t_back = now()
        if err:
            f["problems"].append(f"restart failed: {err}")
        f["back"] = t_back
        poller = self.pollers[inst]
        wait_for(lambda: all(poller.first_sounding_after(s, t_back) for s in all_strips), self.recover_max, 0.2)
        dead = []
        for x in sil:
            seen = poller.first_sounding_after(x.strip, t_back)
            if seen is None:
                x.t1_lo = t_back
                x.dead = True
                dead.append(x.strip)
            else:
                x.t1_lo, x.t1_hi = t_back, seen + 0.5
        if dead:
            st = poller.last
            rec = "no /status answer"
            if st is not None:
                r = st["recorders"][:PAIRS]
                rec = (f"/status: recorders running {compact([x['recorder'] for x in r if x['running']]) or 'none'}, "
                       f"reopens {compact_counts([x['reopens'] for x in r])}, strips "
                       f"{compact([x['strip'] for x in st['strips'][:STRIPS] if x['state'] == 'alarm']) or 'none'} "
                       f"in alarm")
                # What the silent strips and their recorders show: levels, states and the buffer counts.
                pairs = sorted({(d - 1) // 2 for d in dead})
                rec += "; " + ", ".join(
                    f"strip {x['strip']} {x['state']} level {x.get('level_dbfs')} peak {x.get('peak_dbfs')}"
                    for x in st["strips"][:STRIPS] if x["strip"] in dead)
                rec += f"; buffers of recorders 1-{len(r)} {[x.get('buffers') for x in r]}; " + ", ".join(
                    f"recorder {r[p]['recorder']} failure {r[p].get('failure')!r}" for p in pairs)
            f["problems"].append(f"strips {compact(dead)} did not sound within {self.recover_max} s after the "
                                 f"restart; {rec}")
            log(f"{inst}: strips {compact(dead)} silent {self.recover_max} s after {f['kind']}")
            # They stay reserved until they sound again (watched in the main loop).
            self.dead_watch.append((inst, dead, sil))
            self.truth.hold(inst, [s for s in all_strips if s not in dead], until=now() + 5)
        else:
            self.truth.hold(inst, all_strips, until=now() + 5)

    def run_fault(self, kind):
        try:
            getattr(self, "fault_" + kind.replace("-", "_"))()
        except Exception as e:  # a harness fault must not stop the soak silently
            log(f"fault {kind} raised {e!r}")
            if self.faults:
                self.faults[-1]["problems"].append(f"harness: {e!r}")
        finally:
            if self.faults:
                self.faults[-1]["end"] = now()
            self.current_fault = None

    def fault_pulse_server(self):
        f = self.fault("pulse-server", "head", f"killed (SIGKILL), started again after {self.hold['server']} s")
        self.audio_outage(f, "head", self.pulse.kill, self.pulse.start, self.hold["server"])

    def fault_jack_server(self):
        f = self.fault("jack-server", "win", f"killed (SIGKILL) with its client, started again after "
                       f"{self.hold['server']} s")
        self.audio_outage(f, "win", self.jack.kill, self.jack.start, self.hold["server"])

    def fault_jack_client(self):
        f = self.fault("jack-client", "win", f"tv_source gone for {self.hold['jack-client']} s")
        self.audio_outage(f, "win", self.jack.stop_source, self.jack.start_source, self.hold["jack-client"])

    def silence_during(self, f, seconds, start_after):
        """A long silence on two free strips of each instance, `start_after`
        seconds from now (for the faults that test the records of alarms)."""
        chosen = {}
        for inst in self.insts:
            free = self.truth.free(inst, now())
            poller = self.pollers[inst]
            free = [s for s in free if poller.sounding_after([s], now() - 2.5)]
            if len(free) >= 2:
                chosen[inst] = sorted(self.rng.sample(free, 2))
                self.truth.hold(inst, chosen[inst])
        time.sleep(start_after)
        for inst, strips in chosen.items():
            self.mute(inst, strips, seconds, f["kind"])
        f["silenced"] = {k: v for k, v in chosen.items()}

    def fault_disk_full(self):
        hold = self.hold["disk-full"]
        f = self.fault("disk-full", "both", f"journal tmpfs filled for {hold} s, a {hold + 3:.0f} s silence on "
                       f"two strips of each instance starting 1 s in")
        fill = os.path.join(self.mounted, "fill")
        fd = os.open(fill, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        try:
            for chunk in (1 << 20, 4096, 512, 64):
                try:
                    while os.write(fd, b"\0" * chunk) > 0:
                        pass
                except OSError:
                    pass
        finally:
            os.close(fd)
        t_full = now()
        f["free_bytes"] = os.statvfs(self.mounted).f_bavail * os.statvfs(self.mounted).f_frsize
        try:
            self.silence_during(f, hold + 3, 1.0)
            time.sleep(max(0.0, t_full + hold - now()))
        finally:
            os.unlink(fill)
            f["window"] = (t_full, now())
            self.disk_full_windows.append((t_full, now()))
            # Journal lines of device events are due up to a poll (250 ms) later.
            time.sleep(0.5)
            f["stderr_end"] = {n: i.stderr_size() for n, i in self.insts.items()}

    def fault_settings_readonly(self):
        hold = self.hold["readonly"]
        f = self.fault("settings-readonly", "both", f"settings files mode 0444 for {hold} s")
        for i in self.insts.values():
            os.chmod(i.settings, 0o444)
        t0 = now()
        time.sleep(hold)
        for i in self.insts.values():
            os.chmod(i.settings, 0o644)
        self.readonly_windows.append((t0, now()))
        f["window"] = (t0, now())

    def fault_hostile_http(self):
        f = self.fault("hostile-http", "both", "garbage, 1 MB of headers, 200 idle and 20 slow connections, "
                       "a flood of 300 requests, odd methods and paths")
        res = {}
        # A hung instance would only hold the burst up.
        threads = [threading.Thread(target=lambda n=n, i=i: res.__setitem__(n, hostile_burst(i.port, self.rng)))
                   for n, i in self.insts.items() if i.hung_at is None and i.alive()]
        skipped = [n for n, i in self.insts.items() if i.hung_at is not None or not i.alive()]
        if skipped:
            f["detail"] += f" (not on {', '.join(skipped)}: not answering)"
        t0 = now()
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.hostile_windows.append((t0, now()))
        f["result"] = res
        for n, r in res.items():
            if r["oversized_answered_200"]:
                f["problems"].append(f"{n}: 1 MB of headers answered 200")
            if r["probe_ms"] is None:
                f["problems"].append(f"{n}: /status did not answer beside the held connections")
            elif r["probe_ms"] > 2000:
                f["problems"].append(f"{n}: /status took {r['probe_ms']} ms beside the held connections")
        log("hostile clients: " + "; ".join(
            f"{n}: flood {r['flood_200']}x200 {r['flood_429']}x429 {r['flood_other']} other, probe "
            f"{r['probe_ms']} ms" for n, r in res.items()))

    def fault_clock_step(self):
        step = 3600 * self.step_sign
        self.step_sign = -self.step_sign
        f = self.fault("clock-step", "both", f"wall clock stepped by {step:+d} s during a 10 s silence on two "
                       f"strips of each instance")
        self.silence_during(f, 10.0, 0.0)
        time.sleep(3.0)   # the detector has noted the silence's start by now
        self.clock.set(self.clock.offset() + step)
        f["step"] = (now(), step)
        time.sleep(8.0)

    # -- the run -----------------------------------------------------------

    def sample_rss(self):
        t = now()
        for n, i in self.insts.items():
            kb = i.rss_kb() if i.alive() else None
            if kb:
                self.rss[n].append((t, kb))

    def watch_instances(self):
        for n, i in self.insts.items():
            if not i.alive() and i.exit is None:
                i.exit = (i.proc.returncode, f"ended during the run at {now():.0f} s")
                log(f"{n} ended by itself with status {i.proc.returncode}")
            gap = self.pollers[n].gap_now()
            if gap is not None and gap > 15 and i.hung_at is None and i.alive():
                i.hangs.append([now() - gap, None])
                log(f"{n}: /status has not answered for {gap:.0f} s: the instance seems hung")
                threading.Thread(target=i.take_backtrace, args=(f"hung-backtrace-{len(i.hangs)}.txt",),
                                 daemon=True).start()
            elif gap is None and i.hung_at is not None:
                i.hangs[-1][1] = now()
                log(f"{n}: answers again after {now() - i.hangs[-1][0]:.0f} s")
        keep = []
        for inst, strips, sil in self.dead_watch:
            poller = self.pollers[inst]
            back = [x for x in sil if x.dead and poller.first_sounding_after(x.strip, x.t1_lo)]
            for x in back:
                x.t1_hi = poller.first_sounding_after(x.strip, x.t1_lo) + 0.5
                x.dead = False
                self.truth.hold(inst, [x.strip], until=now() + 5)
                log(f"{inst}: strip {x.strip} sounds again ({x.t1_hi - x.t0:.0f} s after {x.cause})")
            if any(x.dead for x in sil):
                keep.append((inst, strips, sil))
        self.dead_watch = keep

    def draw_fault(self):
        if not self.deck:
            self.deck = list(self.kinds)
            self.rng.shuffle(self.deck)
        return self.deck.pop()

    def interval(self):
        lo, hi = self.args.fault_every
        return self.rng.uniform(lo, hi)

    def run(self):
        a = self.args
        self.dead_watch = []
        self.deck = []
        duration = a.hours * 3600
        start = now()
        self.end_at = start + duration
        # The last stretch has no faults and no silences: every strip must
        # sound at the end.
        self.quiet_from = self.end_at - (25 if a.short else 60)
        self.next_fault_at = start + (15 if a.short else 60)
        self.next_fault_kind = self.draw_fault() if self.kinds else None
        warm = self.warmup()
        rss_every = 2 if a.short else 10
        next_rss = next_inject = now()
        log(f"soak of {duration / 60:.1f} min; faults every {a.fault_every[0]:.0f}-{a.fault_every[1]:.0f} s; "
            f"resident memory judged after {warm / 60:.1f} min of warm-up")
        while now() < self.end_at and not self.stop_flag:
            t = now()
            self.unmute_due()
            if t >= next_rss:
                self.sample_rss()
                next_rss = t + rss_every
            self.watch_instances()
            if (self.next_fault_kind and t >= self.next_fault_at and self.current_fault is None
                    and (self.fault_thread is None or not self.fault_thread.is_alive())):
                if t + self.expected_duration(self.next_fault_kind) + 5 < self.quiet_from:
                    kind = self.next_fault_kind
                    self.current_fault = kind
                    self.fault_thread = threading.Thread(target=self.run_fault, args=(kind,), daemon=True)
                    self.fault_thread.start()
                    self.next_fault_kind = self.draw_fault()
                    self.next_fault_at = t + self.interval()
                else:
                    self.next_fault_kind = None
            if t >= next_inject:
                for inst in self.insts:
                    self.maybe_inject(inst)
                next_inject = t + self.rng.uniform(2.0, 4.0)
            time.sleep(0.1)
        if self.fault_thread:
            self.fault_thread.join(120)
        self.unmute_due(force=True)
        # Final state, from a poll after every silence ended.
        t_end = now()
        for p in self.pollers.values():
            wait_for(lambda p=p: p.last_t is not None and p.last_t > t_end + 1.5, 10, 0.2)
        self.sample_rss()
        self.watch_instances()
        # No answer after the silences ended: the state at the end is not known.
        self.final = {n: (p.last, p.last_t) if p.last_t is not None and p.last_t > t_end else (None, None)
                      for n, p in self.pollers.items()}
        self.sounding_at_end = {n: [s for s in range(1, STRIPS + 1) if p.sounding_after([s], t_end - 3)]
                                for n, p in self.pollers.items()}

    def warmup(self):
        d = self.args.hours * 3600
        return 60.0 if d < 1200 else min(600.0, max(300.0, d / 10))

    def stop(self):
        for p in getattr(self, "pollers", {}).values():
            p.stop_flag.set()
        for i in getattr(self, "insts", {}).values():
            i.stop(20)

    def cleanup(self):
        for name in ("jack", "pulse"):
            s = getattr(self, name, None)
            if s:
                try:
                    s.stop()
                except Exception:
                    pass
        if getattr(self, "webhook", None):
            self.webhook.close()
        if self.rss["win"] or self.rss["head"]:
            with open(os.path.join(self.out, "rss.csv"), "w") as f:
                f.write("instance,seconds,rss_kb\n")
                for n, samples in self.rss.items():
                    for t, kb in samples:
                        f.write(f"{n},{t:.1f},{kb}\n")
        # Keep the journals with the report.
        for i in getattr(self, "insts", {}).values():
            if os.path.isdir(i.journal):
                shutil.copytree(i.journal, os.path.join(i.out, "journal"), dirs_exist_ok=True)
            if os.path.exists(i.settings):
                shutil.copy(i.settings, os.path.join(i.out, "settings.reg"))
        if self.mounted:
            run_quiet(["umount", self.mounted], os.environ)
        shutil.rmtree(self.run_dir, ignore_errors=True)


def compact(nums):
    """[1,2,3,5] -> '1-3,5'"""
    nums = sorted(nums)
    out, i = [], 0
    while i < len(nums):
        j = i
        while j + 1 < len(nums) and nums[j + 1] == nums[j] + 1:
            j += 1
        out.append(str(nums[i]) if i == j else f"{nums[i]}-{nums[j]}")
        i = j + 1
    return ",".join(out)


# ---------------------------------------------------------------------------
# Checks and report

JOURNAL_LINE = re.compile(
    r"^(?P<ts>(?P<date>\d{4}-\d\d-\d\d)T\d\d:\d\d:\d\d\.\d{3}[+-]\d{4}) "
    r"(?:(?P<kind>alarm|restored) strip=(?P<strip>\d+) label=\"(?:[^\"\\]|\\.)*\" "
    r"level_db=(?:-inf|-?\d+\.\d\d) silent_s=(?P<silent>-?\d+\.\d)"
    r"|device recorder=(?P<rec>\d+) event=(?P<event>[\w ]+?) name=\"(?:[^\"\\]|\\.)*\""
    r"|monitoring event=(?:paused|resumed)(?: reason=\"(?:[^\"\\]|\\.)*\")?)$")


def parse_ts(text):
    """Journal/webhook time stamp -> seconds since the epoch."""
    m = re.match(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)\.(\d{3})([+-])(\d\d)(\d\d)$", text)
    if not m:
        return None
    y, mo, d, h, mi, s, ms, sign, zh, zm = m.groups()
    import calendar
    utc = calendar.timegm((int(y), int(mo), int(d), int(h), int(mi), int(s), 0, 0, 0)) + int(ms) / 1000
    off = (int(zh) * 3600 + int(zm) * 60) * (1 if sign == "+" else -1)
    return utc - off


class Checker:
    def __init__(self, soak):
        self.s = soak
        self.failures = []
        self.lines = []

    def fail(self, text):
        self.failures.append(text)

    def say(self, text=""):
        self.lines.append(text)

    def fault_at(self, t):
        """The fault running at harness time t or the last one before it."""
        before = [f for f in self.s.faults if f["start"] <= t]
        return before[-1] if before else None

    def fault_name(self, f):
        return f"fault {self.s.faults.index(f) + 1} ({f['kind']} at {clock_text(f['start'])})" if f else "the start"

    def blind(self, inst):
        """Windows in which the instance could not act: its hangs, and the time
        after it ended during the run."""
        i = self.s.insts[inst]
        out = [(a, b if b is not None else math.inf) for a, b in i.hangs]
        if i.exit and "during the run" in i.exit[1]:
            m = re.search(r"at (\d+) s", i.exit[1])
            if m:
                out.append((float(m.group(1)), math.inf))
        return out

    # -- silences against the events ----------------------------------------

    def silences(self, inst):
        events = self.s.webhook.of(inst)
        blind = self.blind(inst)
        per_strip = {}
        for t, e in events:
            if isinstance(e.get("strip"), int):
                per_strip.setdefault(e["strip"], []).append((t, e))
        counts = {"expected": 0, "alarms_ok": 0, "restores_ok": 0, "missed": 0, "unexpected": 0,
                  "duplicate": 0, "no_restore": 0, "bad_length": 0, "pauses": 0, "pauses_ok": 0,
                  "unverifiable": 0, "ambiguous": 0}
        problems = []
        for strip in range(1, STRIPS + 1):
            evs = per_strip.get(strip, [])
            used = set()
            for x in self.s.truth.of(inst, strip):
                exp = x.expect()
                # An alarm due while the instance could not act is not judged;
                # nor is a restore due then.
                if any(x.t0 + 1.5 <= b + SLACK and x.t0 + LONG_MIN + SLACK >= a for a, b in blind):
                    counts["unverifiable"] += 1
                    continue
                # A strip that never sounded again was due back within the
                # recovery time of the fault.
                due_hi = x.t1_hi if x.t1_hi is not None else (x.t1_lo or x.t0) + 30
                restore_blind = x.t1_lo is not None and any(
                    x.t1_lo - 1 <= b + SLACK and due_hi + SLACK >= a for a, b in blind)
                hi = (x.t1_hi if x.t1_hi is not None else math.inf) + SLACK
                inside = [k for k, (t, e) in enumerate(evs) if e.get("event") == "alarm" and k not in used
                          and x.t0 + 1.5 <= t <= hi]
                if exp == "none":
                    counts["pauses"] += 1
                    if not inside:
                        counts["pauses_ok"] += 1
                    continue
                if exp == "either":
                    counts["ambiguous"] += 1
                    used.update(inside[:1])
                    continue
                counts["expected"] += 1
                where = f"{inst} strip {strip}: {x.cause} at {clock_text(x.t0)}"
                if not inside:
                    counts["missed"] += 1
                    problems.append(f"{where}: no alarm")
                    continue
                counts["alarms_ok"] += 1
                used.add(inside[0])
                if len(inside) > 1:
                    counts["duplicate"] += len(inside) - 1
                    used.update(inside[1:])
                    problems.append(f"{where}: {len(inside)} alarms")
                k = inside[-1]
                nxt = evs[k + 1] if k + 1 < len(evs) else None
                if restore_blind:
                    counts["unverifiable"] += 1
                    continue
                if x.dead or x.t1_hi is None:
                    problems.append(f"{where}: the strip never sounded again ({x.cause})")
                    counts["no_restore"] += 1
                    continue
                if not nxt or nxt[1].get("event") != "restored" or not (x.t1_lo - 1 <= nxt[0] <= x.t1_hi + SLACK):
                    counts["no_restore"] += 1
                    problems.append(f"{where}: no restore between {clock_text(x.t1_lo)} and "
                                    f"{clock_text(x.t1_hi + SLACK)}")
                    continue
                used.add(k + 1)
                counts["restores_ok"] += 1
                true_len = nxt[0] - x.t0
                told = float(nxt[1].get("silent_seconds") or 0)
                # The detector counts from its first silent check, 1-2 s in.
                if not (true_len - 3.5 <= told <= true_len + 1.5):
                    counts["bad_length"] += 1
                    problems.append(f"{where}: restore says silent_s={told:.1f}, the silence lasted "
                                    f"{true_len:.1f} s")
            for k, (t, e) in enumerate(evs):
                if k in used or any(a <= t <= b + SLACK for a, b in blind):
                    continue
                counts["unexpected"] += 1
                f = self.fault_at(t)
                problems.append(f"{inst} strip {strip}: unexpected {e.get('event')} at {clock_text(t)} "
                                f"(silent_s={e.get('silent_seconds')}; last fault: {self.fault_name(f)})")
        return counts, problems

    # -- journal against the events -----------------------------------------

    def journal(self, inst):
        i = self.s.insts[inst]
        folder = i.journal if os.path.isdir(i.journal) else os.path.join(i.out, "journal")
        lines, malformed, wrong_file = [], [], []
        files = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        for name in files:
            with open(os.path.join(folder, name), "rb") as fh:
                raw = fh.read()
            if raw and not raw.endswith(b"\n"):
                malformed.append(f"{name}: ends without a newline: {raw[-60:]!r}")
            for line in raw.decode(errors="replace").splitlines():
                m = JOURNAL_LINE.match(line)
                if not m:
                    malformed.append(f"{name}: {line[:140]}")
                    continue
                if name != m.group("date") + ".log":
                    wrong_file.append(f"{name}: {line[:60]}")
                lines.append(m)
        events = self.s.webhook.of(inst)
        # Every alarm and restore the instance announced must be in its journal.
        jl = {}
        for m in lines:
            if m.group("kind"):
                jl.setdefault((int(m.group("strip")), m.group("kind")), []).append(parse_ts(m.group("ts")))
        lost, lost_full = [], []
        time_off = 0
        for t, e in events:
            key = (e.get("strip"), e.get("event"))
            ts = parse_ts(e.get("time", ""))
            cands = jl.get(key, [])
            hit = next((k for k, j in enumerate(cands) if ts is not None and abs(j - ts) <= 1.0), None)
            if hit is not None:
                cands.pop(hit)
            else:
                where = f"{e.get('event')} strip={e.get('strip')} at {clock_text(t)} ({e.get('time')})"
                if any(a - 0.5 <= t <= b + 1.0 for a, b in self.s.disk_full_windows):
                    lost_full.append(where)
                else:
                    lost.append(where)
            # The stamp follows the stepped wall clock.
            if ts is not None:
                real = self.s.wall0 + t
                if not any(abs(ts - (real + o)) <= 2.5 for o in self.s.clock.offsets_at(t)):
                    time_off += 1
        extra = sum(len(v) for v in jl.values())
        # Device lines against what stderr said.
        dev_journal = {}
        for m in lines:
            if m.group("rec"):
                dev_journal[(int(m.group("rec")), m.group("event"))] = dev_journal.get(
                    (int(m.group("rec")), m.group("event")), 0) + 1
        dev_stderr, dev_full = {}, {}
        full = [(f["stderr"][inst], f["stderr_end"][inst]) for f in self.s.faults if f.get("stderr_end")]
        try:
            with open(i.stderr, "rb") as fh:
                pos = 0
                for raw in fh:
                    line = raw.decode(errors="replace")
                    m = re.search(r"Input (\d+)&\d+: device \".*\" (lost|is back)", line)
                    if m:
                        key = ((int(m.group(1)) + 1) // 2, "lost" if m.group(2) == "lost" else "reopened")
                        dev_stderr[key] = dev_stderr.get(key, 0) + 1
                        if any(a <= pos < b for a, b in full):
                            dev_full[key] = dev_full.get(key, 0) + 1
                    pos += len(raw)
        except OSError:
            pass
        dev_missing = {k: v - dev_journal.get(k, 0) for k, v in dev_stderr.items()
                       if v - dev_full.get(k, 0) > dev_journal.get(k, 0)}
        return {"files": files, "lines": len(lines), "malformed": malformed, "wrong_file": wrong_file,
                "events": len(events), "lost": lost, "lost_disk_full": lost_full, "extra": extra,
                "time_off": time_off, "device_missing": dev_missing,
                "device_lines": sum(dev_journal.values()), "device_stderr": sum(dev_stderr.values())}

    # -- memory --------------------------------------------------------------

    def memory(self, inst):
        samples = self.s.rss[inst]
        if not samples:
            return None
        warm_t = self.s.metering_from + self.s.warmup()
        post = [(t, kb) for t, kb in samples if t >= warm_t]
        r = {"start_mb": samples[0][1] / 1024, "end_mb": samples[-1][1] / 1024,
             "max_mb": max(kb for _, kb in samples) / 1024, "after_warmup_mb": None, "slope_mb_h": None,
             "span_min": 0.0}
        if len(post) >= 3:
            n = len(post)
            mt = sum(t for t, _ in post) / n
            mk = sum(kb for _, kb in post) / n
            den = sum((t - mt) ** 2 for t, _ in post)
            slope = sum((t - mt) * (kb - mk) for t, kb in post) / den if den else 0.0
            r.update(after_warmup_mb=post[0][1] / 1024, slope_mb_h=slope * 3600 / 1024,
                     span_min=(post[-1][0] - post[0][0]) / 60)
        return r

    # -- everything ----------------------------------------------------------

    def run(self):
        s = self.s
        a = s.args
        self.say(f"Soak of {a.hours * 60:.1f} min (seed {a.seed}), faults every {a.fault_every[0]:.0f}-"
                 f"{a.fault_every[1]:.0f} s, alarm delay {ALARM_DELAY} s, threshold {THRESHOLD_DB:.0f} dBFS")
        self.say("  win:  windowed (offscreen), 12 pairs of JACK client tv_source (24 ports)")
        self.say("  head: headless, 12 pairs of PulseAudio's 24-channel null sink monitor ('pulse')")
        for n in s.notes:
            self.say(f"  note: {n}")
        self.say()
        self.say("Faults:")
        for k, f in enumerate(s.faults, 1):
            dur = f"{(f['end'] or now()) - f['start']:.0f} s"
            extra = ""
            if f.get("silenced"):
                extra = "; silenced " + ", ".join(f"{n} {compact(v)}" for n, v in f["silenced"].items())
            self.say(f"  {k:3d}. {clock_text(f['start'])} {f['kind']:<17} {f['target']:<4} {dur:>5}  "
                     f"{f['detail']}{extra}")
            for p in f["problems"]:
                self.say(f"       ! {p}")
                self.fail(f"fault {k} ({f['kind']} at {clock_text(f['start'])}): {p}")
            if f["problems"] and f["target"] in s.insts:
                i = s.insts[f["target"]]
                # What it said until the next fault.
                end = s.faults[k]["stderr"][f["target"]] if k < len(s.faults) else None
                for line in i.stderr_since(f["stderr"][f["target"]], 6, end):
                    self.say(f"         {f['target']} stderr: {line}")
        missing_kinds = [k for k in s.kinds if k not in {f["kind"] for f in s.faults}]
        if missing_kinds:
            self.say(f"  (not drawn in this run: {', '.join(missing_kinds)})")
        self.say()

        for inst in ("win", "head"):
            i = s.insts[inst]
            self.say(f"== {inst} ==")
            if i.exit:
                self.say(f"  process: exit status {i.exit[0]}, {i.exit[1]}")
                if i.exit[0] != 0 or "stopped with SIGTERM" not in i.exit[1]:
                    self.fail(f"{inst}: {i.exit[1]} (exit status {i.exit[0]})")
            for h0, h1 in i.hangs:
                f = self.fault_at(h0)
                span = f"from {clock_text(h0)} to {clock_text(h1)} ({h1 - h0:.0f} s)" if h1 else \
                    f"from {clock_text(h0)} to the end"
                self.say(f"  hung: /status unanswered {span}, after {self.fault_name(f)}")
                self.fail(f"{inst}: hung {span}, after {self.fault_name(f)}")
            for path in i.backtraces:
                self.say(f"  main thread's stack ({os.path.basename(path)}):")
                for line in main_thread_stack(path):
                    self.say(f"    {line}")
            p = s.pollers[inst]
            self.say(f"  status polls: {p.ok} answered, {p.too_many} answered 429, {p.failed} failed; "
                     f"metrics {p.metrics_ok} ok, {p.metrics_bad} bad")
            for g0, g1 in p.gaps:
                self.say(f"  no /status answer {clock_text(g0)}-{clock_text(g1)} ({g1 - g0:.0f} s)")
                if not any(h0 <= g1 and (h1 is None or g0 <= h1) for h0, h1 in i.hangs):
                    self.fail(f"{inst}: /status did not answer for {g1 - g0:.0f} s from {clock_text(g0)}")
            if p.metrics_bad:
                self.fail(f"{inst}: /metrics failed {p.metrics_bad} times ({p.metrics_fault})")

            counts, problems = self.silences(inst)
            self.say(f"  silences expected to alarm: {counts['expected']}; alarms found {counts['alarms_ok']}, "
                     f"restores found {counts['restores_ok']}; missed {counts['missed']}, duplicate "
                     f"{counts['duplicate']}, without restore {counts['no_restore']}, wrong length "
                     f"{counts['bad_length']}")
            self.say(f"  short pauses: {counts['pauses']}, {counts['pauses_ok']} without alarm; other alarms "
                     f"and restores: {counts['unexpected']}; not judged: {counts['ambiguous']} of "
                     f"uncertain length, {counts['unverifiable']} after the instance stopped answering")
            for pr in problems[:40]:
                self.say(f"    - {pr}")
            if len(problems) > 40:
                self.say(f"    ... {len(problems) - 40} more")
            for key in ("missed", "duplicate", "no_restore", "bad_length", "unexpected"):
                if counts[key]:
                    self.fail(f"{inst}: {counts[key]} {key.replace('_', ' ')} (silences against alarms)")
            if counts["pauses"] != counts["pauses_ok"]:
                self.fail(f"{inst}: {counts['pauses'] - counts['pauses_ok']} short pauses alarmed")

            j = self.journal(inst)
            self.say(f"  journal: {j['lines']} lines in {', '.join(j['files']) or 'no file'}; "
                     f"{j['events']} alarms and restores announced, lost {len(j['lost'])}, lost while the "
                     f"disk was full {len(j['lost_disk_full'])}, lines without an announced event {j['extra']}; "
                     f"device lines {j['device_lines']} (stderr {j['device_stderr']})")
            self.say(f"  journal time stamps off the stepped wall clock: {j['time_off']}")
            for x in j["lost"][:10]:
                self.say(f"    lost: {x}")
            for x in j["lost_disk_full"][:10]:
                self.say(f"    lost while the disk was full: {x}")
            for x in j["malformed"][:10]:
                self.say(f"    malformed: {x}")
            for x in j["wrong_file"][:5]:
                self.say(f"    in the wrong day's file: {x}")
            if j["lost"]:
                self.fail(f"{inst}: {len(j['lost'])} journal lines lost")
            if j["malformed"]:
                self.fail(f"{inst}: {len(j['malformed'])} malformed journal lines")
            if j["wrong_file"]:
                self.fail(f"{inst}: {len(j['wrong_file'])} journal lines in another day's file")
            if j["time_off"]:
                self.fail(f"{inst}: {j['time_off']} journal stamps do not follow the wall clock")
            if j["device_missing"]:
                self.fail(f"{inst}: device events on stderr without a journal line: {j['device_missing']}")

            m = self.memory(inst)
            if m:
                growth = "not judged (no samples after the warm-up)"
                if m["slope_mb_h"] is not None:
                    growth = f"{m['slope_mb_h']:+.2f} MB/h over {m['span_min']:.0f} min after the warm-up"
                self.say(f"  resident memory: start {m['start_mb']:.1f} MB, after warm-up "
                         f"{(m['after_warmup_mb'] or 0):.1f} MB, end {m['end_mb']:.1f} MB, max {m['max_mb']:.1f} MB; "
                         f"growth {growth}")
                if m["slope_mb_h"] is not None and m["span_min"] >= a.rss_min_span and \
                        m["slope_mb_h"] >= a.rss_limit and i.hung_at is None:
                    self.fail(f"{inst}: resident memory grows {m['slope_mb_h']:.2f} MB/h "
                              f"(limit {a.rss_limit} MB/h)")
                elif m["span_min"] < a.rss_min_span:
                    self.say(f"  (growth is judged on runs with at least {a.rss_min_span:.0f} min after the "
                             f"warm-up)")

            # Recorders left dead.
            final, t_final = s.final.get(inst, (None, None))
            stats = i.stats()
            dead = []
            if final is not None:
                quiet = [n for n in range(1, STRIPS + 1) if n not in s.sounding_at_end[inst]]
                for k, r in enumerate(final["recorders"][:PAIRS], 1):
                    strips = [2 * k - 1, 2 * k]
                    if not r["running"] or any(n in quiet for n in strips):
                        dead.append((k, r, [n for n in strips if n in quiet]))
            else:
                self.say("  recorders: not known at the end (no /status answer after the last silence)")
            if stats:
                self.say(f"  --stats: recorders_running {stats['recorders_running']}, reopens "
                         f"{compact_counts(stats['reopens'])}, seconds_lost {compact_counts(stats['seconds_lost'])},"
                         f" dropped_buffers {stats['dropped_buffers']}, max_rss {stats['max_rss_kb'] / 1024:.1f} MB")
            else:
                self.say("  --stats: none (the program did not end normally)")
            if dead:
                self.say(f"  recorders left dead: {len(dead)}")
                for k, r, quiet in dead:
                    last = [s.pollers[inst].last_sounding[n - 1] for n in (2 * k - 1, 2 * k)]
                    last_t = min([x for x in last if x is not None], default=None)
                    f = self.fault_at(last_t) if last_t is not None else None
                    since = (f"last sounded {clock_text(last_t)}, after {self.fault_name(f)}"
                             if last_t is not None else "never sounded")
                    self.say(f"    recorder {k} ({r['device']}): running={r['running']} reopens={r['reopens']} "
                             f"buffers={r['buffers']}, strips {compact(quiet) or '-'} silent; {since}")
                    self.fail(f"{inst}: recorder {k} ({r['device']}) left dead: running={r['running']}, "
                              f"strips {compact(quiet) or '-'} silent, {since}")
                first = min((s.pollers[inst].last_sounding[2 * k - 2] or 0) for k, _, _ in dead)
                f = self.fault_at(first)
                if f:
                    self.say(f"    stderr from {self.fault_name(f)} on (later faults included):")
                    for line in i.stderr_since(f["stderr"][inst]):
                        self.say(f"      {line}")
            elif final is not None:
                self.say("  recorders: all 12 running, all 24 strips sounding at the end")
            self.say()

        self.say("RESULT: " + ("passed" if not self.failures else f"FAILED ({len(self.failures)} findings)"))
        for x in self.failures:
            self.say(f"  - {x}")
        return not self.failures


def compact_counts(values):
    if values is None:
        return "-"
    vals = [round(v, 1) if isinstance(v, float) else v for v in values]
    return "all " + str(vals[0]) if len(set(vals)) == 1 else "[" + ",".join(map(str, vals)) + "]"


def main_thread_stack(path, limit=14):
    try:
        with open(path, errors="replace") as f:
            text = f.read()
    except OSError:
        return []
    m = re.search(r"Thread 1 \(.*?\n(.*?)(?:\nThread |\Z)", text, re.S)
    frames = [l for l in (m.group(1) if m else text).splitlines() if l.startswith("#")]
    out = []
    for l in frames[:limit]:
        l = re.sub(r" \(.*?\) at ", " at ", l)
        out.append(re.sub(r"0x[0-9a-f]+ in ", "", l)[:150])
    return out


def self_test():
    """Feeds the checks a made-up run of known faults and asserts each is
    found and nothing else (a silence during a hang is not judged). No
    server, no program."""
    from types import SimpleNamespace as NS
    global log
    log = lambda msg: None
    tmp = tempfile.mkdtemp(prefix="tv-soak-check.")
    wall0 = 1_800_000_000.0   # harness time 0 on the wall clock (UTC)

    def stamp(t):
        w = wall0 + t
        return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(w)) + f".{int(w * 1000) % 1000:03d}+0000"

    truth, events, journal = Truth(), {"win": [], "head": []}, {"win": [], "head": []}

    def silence(inst, strip, t0, t1, alarm=None, restore=None, told=None, logged=True):
        x = truth.add(inst, [strip], t0, "long silence" if t1 - t0 > 3 else "short pause")[0]
        x.t1_lo, x.t1_hi = t1, t1 + 0.6
        for kind, t in (("alarm", alarm), ("restored", restore)):
            if t is None:
                continue
            silent = (told if told is not None and kind == "restored" else t - t0 - 1.5)
            e = {"event": kind, "strip": strip, "label": "", "level_db": None, "silent_seconds": round(silent, 1),
                 "time": stamp(t)}
            events[inst].append((t, e))
            if logged:
                journal[inst].append(f"{stamp(t)} {kind} strip={strip} label=\"\" level_db=-inf "
                                     f"silent_s={silent:.1f}")

    for inst in ("win", "head"):
        silence(inst, 5, 100, 110, 105, 110.3)                  # as it should be
        silence(inst, 6, 150, 151)                              # a pause, no alarm
    silence("win", 14, 1010, 1020)                              # during a hang: not judged
    silence("win", 15, 900, 910, 905)                           # never sounds again, then the hang
    dead = truth.of("win", 15)[0]
    dead.t1_hi, dead.dead = None, True
    silence("head", 6, 200, 210)                                # missed
    silence("head", 7, 300, 301, 304)                           # a pause that alarmed
    silence("head", 8, 400, 410, 405, 410.2, told=3609.0)       # silent_s off by the clock step
    events["head"].append((500, {"event": "alarm", "strip": 9, "silent_seconds": 4.0, "time": stamp(500)}))
    journal["head"].append(f"{stamp(500)} alarm strip=9 label=\"\" level_db=-inf silent_s=4.0")
    silence("head", 10, 600, 610, 605, 610.2)
    events["head"].append((607, {"event": "alarm", "strip": 10, "silent_seconds": 5.0, "time": stamp(607)}))
    silence("head", 11, 700, 711, 705, 711.1, logged=False)     # lost while the disk was full: allowed
    silence("head", 12, 800, 810, 805, 810.2, logged=False)     # lost
    journal["head"].append(f"{stamp(900)} restored strip=13 label=\"\" level_db=-12.00 ")  # torn
    for inst in events:
        events[inst].sort(key=lambda e: e[0])
    insts, pollers = {}, {}
    for inst in ("win", "head"):
        folder = os.path.join(tmp, inst, "journal")
        os.makedirs(folder)
        for line in journal[inst]:
            day = line[:10]
            if inst == "head" and "strip=5 " in line and "alarm" in line:
                day = "2001-01-01"                              # in another day's file
            with open(os.path.join(folder, day + ".log"), "a") as f:
                f.write(line + "\n")
        err = os.path.join(tmp, inst, "stderr.txt")
        open(err, "w").close()
        stats = {"recorders_running": 12, "reopens": [0] * PAIRS, "seconds_lost": [0.0] * PAIRS,
                 "dropped_buffers": 0, "max_rss_kb": 60000}
        hangs = [[1000.0, 1050.0]] if inst == "win" else []
        insts[inst] = NS(name=inst, exit=(0, "stopped with SIGTERM"), hangs=hangs, hung_at=None, backtraces=[],
                         journal=folder,
                         out=os.path.join(tmp, inst), stderr=err, stats=lambda st=stats: st,
                         stderr_since=lambda *a, **k: [])
        pollers[inst] = NS(ok=1000, too_many=0, failed=0, metrics_ok=100, metrics_bad=0, metrics_fault=None, gaps=[],
                           last_sounding=[1190.0] * STRIPS)
    final = {n: ({"recorders": [{"recorder": k, "device": f"d{k}", "running": True, "reopens": 0, "buffers": 9}
                                for k in range(1, PAIRS + 1)]}, 1190.0) for n in insts}
    rss = {"win": [(t, 60000 + (t % 20)) for t in range(0, 1200, 10)],
           "head": [(t, 50000 + int(t * 5 * 1024 / 3600)) for t in range(0, 1200, 10)]}   # +5 MB/h
    soak = NS(args=NS(hours=1200 / 3600, seed=0, fault_every=(60, 60), rss_limit=1.0, rss_min_span=10.0),
              notes=[], faults=[], kinds=[], insts=insts, pollers=pollers, truth=truth,
              webhook=NS(of=lambda n: list(events[n])), disk_full_windows=[(699.0, 712.0)], wall0=wall0,
              clock=NS(offsets_at=lambda t: {0}), rss=rss, metering_from=0.0, warmup=lambda: 300.0,
              final=final, sounding_at_end={n: list(range(1, STRIPS + 1)) for n in insts})
    c = Checker(soak)
    ok = c.run()
    shutil.rmtree(tmp)
    found = "\n".join(c.failures)
    expect = ["win: hung from 00:16:40 to 00:17:30 (50 s)", "win: 1 no restore", "head: 1 missed", "head: 1 short pauses alarmed", "head: 1 bad length", "head: 1 duplicate",
              "head: 2 unexpected", "head: 3 journal lines lost", "head: 1 malformed journal lines",
              "head: 1 journal lines in another day's file", "head: resident memory grows 5.0"]
    missing = [e for e in expect if e not in found]
    extra = [f for f in c.failures if not any(f.startswith(e) for e in expect)]
    lost_full = [l for l in c.lines if "lost while the disk was full: alarm strip=11" in l]
    if ok or missing or extra or not lost_full:
        print("\n".join(c.lines))
        print("missing findings:", missing, "\nunexpected findings:", extra, "\nlost while full:", lost_full)
        return 1
    print(f"the checks found all {len(expect)} planted faults and nothing else")
    return 0


def parse_every(text):
    parts = text.split("-")
    lo = float(parts[0])
    hi = float(parts[1]) if len(parts) > 1 else lo
    if lo < 10 or hi < lo:
        raise argparse.ArgumentTypeError("expected SECONDS or LOW-HIGH, at least 10 s")
    return lo, hi


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    ap = argparse.ArgumentParser(description="Soak harness of the meter (see docs/soak.md).")
    ap.add_argument("hours", type=float, help="length of the run in hours (0.05 = 3 minutes)")
    ap.add_argument("--build", required=True, help="build folder with tarvolin and tv-jack-source")
    ap.add_argument("--out", required=True, help="folder for the report and the logs")
    ap.add_argument("--short", action="store_true",
                    help="the quick form: faults every 15-20 s, shorter holds (the test suite's run)")
    ap.add_argument("--fault-every", type=parse_every, default=None, metavar="S|LO-HI",
                    help="seconds between faults (default 60, with --short 15-20)")
    ap.add_argument("--faults", type=lambda s: [k for k in s.split(",") if k], default=None,
                    help="comma-separated fault kinds to draw from: " + ", ".join(KINDS))
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--rss-limit", type=float, default=1.0, help="allowed growth in MB/hour (default 1)")
    ap.add_argument("--rss-min-span", type=float, default=10.0,
                    help="minutes after the warm-up needed to judge the growth (default 10)")
    a = ap.parse_args()
    if not 0 < a.hours <= 48:
        ap.error("HOURS must be more than 0 and at most 48")
    if a.faults:
        bad = [k for k in a.faults if k not in KINDS]
        if bad:
            ap.error(f"unknown fault kinds: {', '.join(bad)}")
    if a.fault_every is None:
        a.fault_every = (15.0, 20.0) if a.short else (60.0, 60.0)
    if a.seed is None:
        a.seed = random.randrange(1 << 30)
    os.makedirs(a.out, exist_ok=True)
    for name in os.listdir(a.out):
        p = os.path.join(a.out, name)
        shutil.rmtree(p) if os.path.isdir(p) else os.remove(p)
    global log
    log = Log(os.path.join(a.out, "events.log"))

    soak = Soak(a)
    soak.wall0 = time.time() - now()
    rc = 1

    def stop_signal(sig, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop_signal)
    signal.signal(signal.SIGHUP, stop_signal)
    try:
        try:
            soak.setup()
        except Skip as e:
            log(f"skipped: {e}")
            return SKIP
        soak.run()
        soak.stop()
        checker = Checker(soak)
        ok = checker.run()
        report = "\n".join(checker.lines) + "\n"
        with open(os.path.join(a.out, "report.txt"), "w") as f:
            f.write(report)
        print("\n" + report, flush=True)
        rc = 0 if ok else 1
    except KeyboardInterrupt:
        log("interrupted")
        rc = 130
    except RuntimeError as e:
        log(f"FAILED: {e}")
        for n in soak.notes:
            log(f"  {n}")
        rc = 1
    finally:
        soak.stop()
        soak.cleanup()
    return rc


if __name__ == "__main__":
    sys.exit(main())
