# Sourced by tests that need a PipeWire server of their own: pipewire,
# wireplumber and pipewire-pulse on a private D-Bus session bus, with a
# private runtime folder, no sound card needed. WirePlumber exits without a
# session bus, and the order matters: the bus, then pipewire (wait for its
# socket), then wireplumber and pipewire-pulse (wait for `pactl info`).
#
#   pipewire_server_start DIR   start in DIR (made if missing, mode 700); exports
#                               XDG_RUNTIME_DIR=DIR, PULSE_RUNTIME_PATH=DIR/pulse,
#                               DBUS_SESSION_BUS_ADDRESS and PULSE_CLIENTCONFIG
#                               (no autospawn of another PulseAudio)
#   pipewire_server_down        stop pipewire, wireplumber and pipewire-pulse,
#                               keep the bus and DIR (a restart is _up again)
#   pipewire_server_up          start the three again on the same bus
#   pipewire_server_stop        stop everything started here (the feed too)
#
# Each returns non-zero with a note on stderr when something does not start;
# the servers' output goes to DIR/pipewire.log, DIR/wireplumber.log and
# DIR/pipewire-pulse.log. Call these in the script itself, not in a subshell
# (the process ids are kept in shell variables).

pipewire_server_start() {
  local dir=${1:?runtime folder}
  local c
  for c in dbus-daemon pipewire wireplumber pipewire-pulse pactl; do
    command -v "$c" >/dev/null || { echo "note: $c is not installed" >&2; return 1; }
  done
  mkdir -p "$dir" && chmod 700 "$dir" || return 1
  export XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir/pulse PULSE_CLIENTCONFIG=$dir/client.conf
  unset PULSE_SERVER PULSE_SOURCE PULSE_SINK PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
  printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
  _pw_dir=$dir
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
  dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >"$dir/dbus.log" 2>&1 &
  _pw_dbus=$!
  for _ in $(seq 100); do [ -S "$dir/bus" ] && break; sleep 0.02; done
  [ -S "$dir/bus" ] || { echo "note: the session bus did not start" >&2; pipewire_server_stop; return 1; }
  pipewire_server_up || { pipewire_server_stop; return 1; }
}

pipewire_server_up() {
  local dir=${_pw_dir:?pipewire_server_start first}
  pipewire >>"$dir/pipewire.log" 2>&1 &
  _pw_core=$!
  for _ in $(seq 100); do [ -S "$dir/pipewire-0" ] && break; sleep 0.02; done
  [ -S "$dir/pipewire-0" ] || { echo "note: pipewire did not start:" >&2; tail -n 5 "$dir/pipewire.log" >&2; return 1; }
  wireplumber >>"$dir/wireplumber.log" 2>&1 &
  _pw_session=$!
  pipewire-pulse >>"$dir/pipewire-pulse.log" 2>&1 &
  _pw_pulse=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null 2>&1 || { echo "note: pipewire-pulse does not answer:" >&2; tail -n 5 "$dir/pipewire-pulse.log" >&2; return 1; }
  kill -0 "$_pw_session" 2>/dev/null || { echo "note: wireplumber exited:" >&2; tail -n 5 "$dir/wireplumber.log" >&2; return 1; }
}

pipewire_server_down() {
  local p
  for p in ${_pw_pulse:-} ${_pw_session:-} ${_pw_core:-}; do
    kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
  done
  _pw_pulse= _pw_session= _pw_core=
  rm -f "${_pw_dir:-/nonexistent}/pipewire-0" "${_pw_dir:-/nonexistent}/pipewire-0.lock"
}

pipewire_server_stop() {
  pipewire_feed_stop
  pipewire_server_down
  if [ -n "${_pw_dbus:-}" ]; then
    kill "$_pw_dbus" 2>/dev/null && wait "$_pw_dbus" 2>/dev/null
  fi
  _pw_dbus=
}

# The channel map the ALSA "pulse" plugin gives a stream of N channels (its
# eight surround positions, then aux0 ...): a sink with this map is recorded
# through the PulseAudio layer without remixing.
pipewire_alsa_map() {
  local n=${1:?channels} names=(front-left front-right rear-left rear-right front-center lfe side-left side-right) i out=()
  for ((i = 0; i < n; i++)); do
    if ((i < 8)); then out+=("${names[i]}"); else out+=("aux$((i - 8))"); fi
  done
  local IFS=,
  echo "${out[*]}"
}

# pipewire_jack COMMAND...: COMMAND as a JACK client of this PipeWire (its JACK
# layer through pw-jack), whatever JACK server the environment names.
pipewire_jack() {
  env -u JACK_DEFAULT_SERVER pw-jack "$@"
}

# pipewire_feed TOOL CLIENT SINK [N]: feeds SINK from TOOL (tv-jack-source),
# a JACK client CLIENT through pw-jack, its N outputs (default 24) linked in
# order to SINK's playback ports (per channel, so nothing is remixed).
# Returns once linked. PipeWire 0.3.65's JACK layer shuts a client down on
# any error from its core, and a burst of other clients' nodes coming and
# going causes such errors ("unknown resource"): the feed is started and
# linked again whenever it ends, until pipewire_feed_stop (each restart is a
# line "feed restarted" in DIR/feed.log).
pipewire_feed() {
  local tool=${1:?tool} client=${2:?client} sink=${3:?sink} n=${4:-24} dir=${_pw_dir:?}
  pipewire_feed_stop
  rm -f "$dir/feed.stop" "$dir/feed.linked"
  (
    first=1
    while [ ! -e "$dir/feed.stop" ]; do
      [ -n "$first" ] || echo "feed restarted $(date +%s.%N)" >>"$dir/feed.log"
      first=
      env -u JACK_DEFAULT_SERVER pw-jack "$tool" -c "$client" >>"$dir/feed.log" 2>&1 &
      echo $! >"$dir/feed.pid"
      _pipewire_link "$client" "$sink" "$n" && touch "$dir/feed.linked"
      wait "$(cat "$dir/feed.pid")"
      sleep 0.1
    done
  ) &
  _pw_feed=$!
  for _ in $(seq 100); do [ -e "$dir/feed.linked" ] && return 0; sleep 0.05; done
  echo "note: $client could not be linked to $sink" >&2
  return 1
}

pipewire_feed_stop() {
  [ -n "${_pw_feed:-}" ] || return 0
  touch "${_pw_dir:?}/feed.stop"
  kill "$_pw_feed" 2>/dev/null
  kill "$(cat "$_pw_dir/feed.pid" 2>/dev/null)" 2>/dev/null
  wait "$_pw_feed" 2>/dev/null
  _pw_feed=
}

# _pipewire_link CLIENT SINK N: links CLIENT:out_1 ... out_N to SINK's first
# N playback ports once both exist.
_pipewire_link() {
  local client=$1 sink=$2 n=$3 ports=() k
  for _ in $(seq 100); do
    mapfile -t ports < <(pipewire_jack jack_lsp 2>/dev/null | grep -F "$sink" | grep ':playback_')
    [ "$(pipewire_jack jack_lsp 2>/dev/null | grep -c "^$client:out_")" -ge "$n" ] && [ ${#ports[@]} -ge "$n" ] && break
    sleep 0.05
  done
  [ ${#ports[@]} -ge "$n" ] || return 1
  for ((k = 1; k <= n; k++)); do  # a port just made can take a moment to be linkable
    for _ in $(seq 20); do
      pipewire_jack jack_connect "$client:out_$k" "${ports[k - 1]}" 2>/dev/null && continue 2
      sleep 0.05
    done
    return 1
  done
}

# Shared by the PipeWire test scripts.
# pipewire_ids REGEX [MAX]: the ids of the input devices in the listing on stdin whose
# names match, in list order, at most MAX.
pipewire_ids() {
  python3 -c '
import re, sys
rx, on, n = re.compile(sys.argv[1]), False, int(sys.argv[2])
for line in sys.stdin:
    if line.startswith("Input"): on = True
    elif line.startswith("Output"): on = False
    elif on:
        m = re.match(r"\s*(-?\d+)\s+(.*?)\s+\[", line)
        if m and int(m.group(1)) >= 0 and rx.fullmatch(m.group(2)) and n > 0:
            print(m.group(1)); n -= 1' "$1" "${2:-99}"
}
pipewire_port() {
  python3 -c '
import random, socket
for _ in range(50):
    p = random.randint(20000, 32000)
    try:
        socket.socket().bind(("127.0.0.1", p)); print(p); break
    except OSError: pass'
}
