# Sourced by test.sh: a private PulseAudio server with a null sink, no hardware needed.
# Exports TARVOLIN_AUDIO_SERVER=pulse when it runs.
audio_server_start() {
  command -v pulseaudio >/dev/null || return 1
  export PULSE_RUNTIME_PATH
  PULSE_RUNTIME_PATH=$(mktemp -d)
  pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=stderr \
    --load="module-native-protocol-unix auth-anonymous=1" \
    --load="module-null-sink sink_name=ci_sink rate=48000 channels=2" 2>/dev/null || return 1
  pactl set-default-sink ci_sink >/dev/null 2>&1 || true
  pactl set-default-source ci_sink.monitor >/dev/null 2>&1 || return 1
  export TARVOLIN_AUDIO_SERVER=pulse
}
audio_server_stop() {
  if [ "${TARVOLIN_AUDIO_SERVER:-}" = pulse ]; then
    pulseaudio --kill 2>/dev/null || true
    rm -rf "$PULSE_RUNTIME_PATH"
  fi
}
