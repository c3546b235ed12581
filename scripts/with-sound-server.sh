#!/usr/bin/env bash
# with-sound-server.sh COMMAND [ARGS...]: runs a command with a private
# user-mode PulseAudio that has a null output ("NullOutput") and an input that
# hears it ("LoopMic"), so that recording and playback work without a sound
# card.  The server is started before the command (programs do not notice a
# server that appears later) and stopped by its process id afterwards.
# VNTR_REQUIRE_SOUND=1 is exported: tests that need the server fail without it.
set -euo pipefail

sound_dir=$(mktemp -d -t vntr-sound.XXXXXX)
chmod 700 "$sound_dir"
pulse_pid=
keepalive_pid=
stop_server() {
  if [ -n "$keepalive_pid" ]; then kill "$keepalive_pid" 2>/dev/null || true; wait "$keepalive_pid" 2>/dev/null || true; fi
  if [ -n "$pulse_pid" ]; then kill "$pulse_pid" 2>/dev/null || true; wait "$pulse_pid" 2>/dev/null || true; fi
  rm -rf "$sound_dir"
}
trap stop_server EXIT

export XDG_RUNTIME_DIR="$sound_dir"
export PULSE_SERVER="unix:$sound_dir/native"
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$sound_dir/native" \
  --load="module-null-sink sink_name=null sink_properties=device.description=NullOutput" \
  --load="module-remap-source master=null.monitor source_name=loopmic source_properties=device.description=LoopMic" \
  >"$sound_dir/pulseaudio.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  kill -0 "$pulse_pid" 2>/dev/null || break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-sound-server: the sound server did not start" >&2
  cat "$sound_dir/pulseaudio.log" >&2
  exit 1
fi
pactl set-default-sink null
pactl set-default-source loopmic
# An idle null sink renders two seconds ahead, and every new stream would be
# heard that late; a quiet low-latency stream keeps it in step.
pacat --playback --raw --latency-msec=20 --format=s16le --rate=8000 --channels=1 \
  --stream-name=keepalive /dev/zero >"$sound_dir/keepalive.log" 2>&1 &
keepalive_pid=$!
for _ in $(seq 50); do
  latency=$(pactl list sinks | awk '$1 == "Latency:" {print $2; exit}')
  [ -n "$latency" ] && [ "$latency" -lt 50000 ] && break
  sleep 0.1
done
echo "with-sound-server: pulseaudio $pulse_pid with a null output and a loop-back input"

export VNTR_REQUIRE_SOUND=1
status=0
"$@" || status=$?
exit "$status"
