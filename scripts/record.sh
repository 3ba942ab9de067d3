#!/usr/bin/env bash
# The main job: a screen recording with sound, through the engine's vexaenc.
#
#   scripts/record.sh [SECONDS] [OUTPUT-FILE]
#
# On a desktop (DISPLAY set) it records an 800x600 rectangle at 10,10 of the
# real screen with the default sound source (without sound when there is no
# sound server). Without one it starts a private virtual display and sound
# server, shows a moving picture with a tone (vexademo) and records that.
# Prints where the file is and what it holds. Ctrl+C ends the recording early
# and still leaves a finished file.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
output=${2:-$root/out/VexaScreenRecorder-800-600_(new).mp4}
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
build="$root/build/release"
bin="$build/tools"

# Runs a set-up step with its output in a log; shows the log only on failure.
quiet() {
  local what=$1 log
  shift
  log=$(mktemp /tmp/vexa-record.XXXXXX)
  if ! "$@" >"$log" 2>&1; then
    echo "record: $what failed:" >&2
    tail -n 40 "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}

if [ -z "${VEXA_RECORD_INNER:-}" ]; then
  if ! [[ "$seconds" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "usage: $0 [SECONDS] [OUTPUT-FILE]" >&2
    exit 2
  fi
  echo "record: building vexaenc and vexademo (build/release)"
  quiet "installing the packages" bash "$root/scripts/setup-deps.sh"
  quiet "configuring" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  quiet "building" cmake --build "$build" --target vexaenc vexademo -j "$(nproc 2>/dev/null || echo 2)"
  mkdir -p "$(dirname "$output")"
  if [ -z "${DISPLAY:-}" ]; then
    echo "record: no desktop here; starting a virtual display and sound server with a demo picture and tone"
    exec env VEXA_RECORD_INNER=demo "$root/scripts/test-env.sh" "$0" "$seconds" "$output"
  fi
  export VEXA_RECORD_INNER=desktop
fi

demo_pid=""
if [ "$VEXA_RECORD_INNER" = demo ]; then
  "$bin/vexademo" --x 0 --y 0 --width 840 --height 640 &
  demo_pid=$!
  sleep 1
fi
stop_demo() {
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
    demo_pid=""
  fi
}
trap stop_demo EXIT

threads=$(nproc 2>/dev/null || echo 1)
threads_part=""
[ "$threads" -gt 1 ] && threads_part="  -threads $threads"
flags=" -capture_flags +showframe+client+cursor "
sound=" -ar 44100 -ac 2 -sample_fmt s16 "
output_line=" -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6 ${threads_part}   -async 1 -vsync 1 "

log=$(mktemp /tmp/vexa-record-log.XXXXXX)
# record DEVICE INPUT-LINE: records $seconds seconds; returns vexaenc's status
# (timeout's 124 when it stopped the recording, the normal end).
record() {
  local status=0
  rm -f "$output"
  timeout -s INT -k 20 "$seconds" "$bin/vexaenc" --loglevel warning --quiet-progress \
    "$1" "$2" "$output" "$output_line" >"$log" 2>&1 || status=$?
  [ "$status" -eq 124 ] && status=0
  return "$status"
}

where="the screen"
[ "$VEXA_RECORD_INNER" = demo ] && where="the virtual screen (vexademo)"
echo "record: recording $seconds s of $where with sound (800x600 at 10,10, 15 fps)"
status=0
record "video=0:audio=-1" " -f gdicapture  -capture_offset 10,10${flags} -s 800x600 -r 15${sound}" || status=$?
if [ "$status" -ne 0 ] && grep -q "No wave audio recording devices found" "$log"; then
  echo "record: no sound source; recording without sound"
  status=0
  record "video=0" " -f gdicapture  -capture_offset 10,10${flags} -s 800x600 -r 15 " || status=$?
fi
stop_demo
if [ "$status" -ne 0 ] || [ ! -s "$output" ]; then
  echo "record: the recording failed (vexaenc status $status):" >&2
  tail -n 20 "$log" >&2
  rm -f "$log"
  exit 1
fi
lost=$(grep -c "We lost" "$log" || true)
rm -f "$log"

echo "record: the recording is $output"
if command -v mediainfo >/dev/null 2>&1; then
  mediainfo --Inform="General;  %Format%, %Duration/String3%, %FileSize/String%" "$output"
  mediainfo --Inform="Video;  video: %Format% (%CodecID%) %Width%x%Height%, %FrameRate% fps, %FrameCount% frames" "$output"
  mediainfo --Inform="Audio;  audio: %Format% %SamplingRate% Hz, %Channel(s)% channels, %Duration/String3%" "$output"
else
  echo "  $(stat -c %s "$output") bytes (install mediainfo to see what it holds)"
fi
[ "$lost" -gt 0 ] && echo "record: the grabber lost frames $lost time(s) (a loaded machine)"
exit 0
