# Sourced by test.sh: a private PulseAudio server with a null sink, no sound
# card needed. Its monitor is the default source, so what is played to the
# default output can be recorded from the default input. It must run before
# any test initialises PortAudio. Exports PULSE_RUNTIME_PATH (every client
# needs it) and TARVOLIN_AUDIO_SERVER=pulse once the server answers.
audio_server_start() {
  if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "note: pulseaudio/pactl not installed" >&2
    return 1
  fi
  export PULSE_RUNTIME_PATH
  PULSE_RUNTIME_PATH=$(mktemp -d)
  if ! pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=file:"$PULSE_RUNTIME_PATH/log" \
      --load="module-native-protocol-unix auth-anonymous=1" \
      --load="module-null-sink sink_name=ci_sink rate=48000 channels=2" 2>/dev/null; then
    echo "note: pulseaudio did not start:" >&2
    tail -n 5 "$PULSE_RUNTIME_PATH/log" >&2 2>/dev/null || true
    rm -rf "$PULSE_RUNTIME_PATH"
    unset PULSE_RUNTIME_PATH
    return 1
  fi
  local i
  for i in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl set-default-sink ci_sink >/dev/null 2>&1 ||
     ! pactl set-default-source ci_sink.monitor >/dev/null 2>&1; then
    echo "note: pulseaudio started but does not answer" >&2
    audio_server_stop
    return 1
  fi
  export TARVOLIN_AUDIO_SERVER=pulse
}

audio_server_stop() {
  if [ -n "${PULSE_RUNTIME_PATH:-}" ]; then
    pulseaudio --kill 2>/dev/null || true
    rm -rf "$PULSE_RUNTIME_PATH"
  fi
  unset TARVOLIN_AUDIO_SERVER
}

# JACK keeps a registry of its servers in /dev/shm, and a server that was
# killed keeps its entry (and its shared memory) until a server of the same
# name starts again; the tests kill servers of their own names, and eight
# stale entries make every new server fail ("Too many servers already
# active"). With no JACK server running at all they are only leftovers.
jack_leftovers_clear() {
  pgrep -x jackd >/dev/null 2>&1 && return 0
  pgrep -x jackdbus >/dev/null 2>&1 && return 0
  [ -w /dev/shm ] || return 0
  rm -f /dev/shm/jack-shm-registry /dev/shm/jack-[0-9]*-[0-9]* /dev/shm/jack_sem.* 2>/dev/null || true
}
