#!/usr/bin/env bash
# Runs a command inside a private test environment: an Xvfb display and a
# PulseAudio server with a null sink, both on private addresses, so that a
# running desktop or sound server is never touched. Both are stopped when the
# command ends, whatever happens. The command's exit status is returned.
#
#   scripts/test-env.sh COMMAND [ARGS...]
#
# Exports DISPLAY, PULSE_SERVER, VEXA_TEST_SINK (the null sink's name) and
# VEXA_TEST_ENV=1 to the command.
set -uo pipefail

if [ $# -eq 0 ]; then echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; fi

work=$(mktemp -d /tmp/vexa-testenv.XXXXXX)
xvfb_pid=""
pulse_pid=""

cleanup() {
  [ -n "$pulse_pid" ] && kill "$pulse_pid" 2>/dev/null && wait "$pulse_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- X display: the first free number from 90 up -----------------------------
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "test-env: no free X display number" >&2; exit 1; }
Xvfb ":$display" -screen 0 "${VEXA_TEST_SCREEN:-1280x1024x24}" -nolisten tcp -ac -noreset \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  if DISPLAY=":$display" xdpyinfo >/dev/null 2>&1; then break; fi
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "test-env: Xvfb failed" >&2; exit 1; }
  sleep 0.1
done
export DISPLAY=":$display"

# --- PulseAudio: a private server with one null sink -------------------------
mkdir -p "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
cat >"$work/client.conf" <<CONF
autospawn = no
CONF
cat >"$work/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/pulse.sock
load-module module-null-sink sink_name=vexa_null rate=44100 channels=2
set-default-sink vexa_null
set-default-source vexa_null.monitor
PA
env HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" PULSE_RUNTIME_PATH="$work/runtime" \
  PULSE_CLIENTCONFIG="$work/client.conf" \
  pulseaudio -n -F "$work/default.pa" --daemonize=no --exit-idle-time=-1 \
  --use-pid-file=no --disable-shm=yes --log-target=file:"$work/pulse.log" \
  >"$work/pulse.out" 2>&1 &
pulse_pid=$!
export PULSE_SERVER="unix:$work/pulse.sock"
export PULSE_CLIENTCONFIG="$work/client.conf"
for _ in $(seq 1 100); do
  if pactl info >/dev/null 2>&1; then break; fi
  kill -0 "$pulse_pid" 2>/dev/null || { cat "$work/pulse.out" "$work/pulse.log" >&2; echo "test-env: PulseAudio failed" >&2; exit 1; }
  sleep 0.1
done
pactl info >/dev/null 2>&1 || { echo "test-env: PulseAudio did not answer" >&2; exit 1; }
export VEXA_TEST_SINK=vexa_null
export VEXA_TEST_ENV=1

"$@"
