#!/usr/bin/env bash
# The main job: a screen recording with sound, through vexarec with the
# recorder's settings.
#
#   scripts/record.sh [SECONDS] [OUTPUT-FOLDER]
#
# Records SECONDS (default 5) with the settings of the recorder (region,
# format, frame rate, quality, sound, overlays, watermark: the settings file
# the window uses, build/release/app/vexascreenrecorder.ini; its defaults when
# there is none) into OUTPUT-FOLDER (default: the output folder of the
# settings), the file named as the window names it. The recording's length is
# a one-off: the settings file keeps its own.
#
# On a desktop (DISPLAY set) it records the real screen and the default sound
# source (without sound when there is no sound server). Without one it starts
# a private virtual display and sound server, shows a moving picture with a
# tone (vexademo) and records that into out/ unless told otherwise. Prints
# where the file is and what it holds. Ctrl+C ends the recording early and
# still leaves a finished file.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
folder=${2:-}
if [ -n "$folder" ]; then case "$folder" in /*) ;; *) folder="$PWD/$folder" ;; esac; fi
build="$root/build/release"
bin="$build/tools"
settings="$build/app/vexascreenrecorder.ini"

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
  if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [SECONDS] [OUTPUT-FOLDER]   (SECONDS: a whole number, at least 1)" >&2
    exit 2
  fi
  echo "record: building vexarec and vexademo (build/release)"
  quiet "installing the packages" bash "$root/scripts/setup-deps.sh"
  quiet "configuring" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  quiet "building" cmake --build "$build" --target vexarec vexademo -j "$(nproc 2>/dev/null || echo 2)"
  if [ -z "${DISPLAY:-}" ]; then
    echo "record: no desktop here; starting a virtual display and sound server with a demo picture and tone"
    exec env VEXA_RECORD_INNER=demo "$root/scripts/test-env.sh" "$0" "$seconds" "${folder:-$root/out}"
  fi
  export VEXA_RECORD_INNER=desktop
fi

demo_pid=""
if [ "$VEXA_RECORD_INNER" = demo ]; then
  # The demo covers the recorder's default region (10,10 800x600).
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

args=(--length "$seconds" --no-sound-answer yes --loglevel info)
[ -d "$(dirname "$settings")" ] && args+=(--settings "$settings")
[ -n "$folder" ] && args+=(--output-dir "$folder")

where="the screen"
[ "$VEXA_RECORD_INNER" = demo ] && where="the virtual screen (vexademo)"
echo "record: recording $seconds s of $where with the recorder's settings"
log=$(mktemp /tmp/vexa-record-log.XXXXXX)
status=0
"$bin/vexarec" "${args[@]}" 2>"$log" | tee "$log.out" || status=$?
stop_demo
grep -E "^vexarec: (warning|recording)" "$log" || true
output=$(sed -n 's/^vexarec: saved \(.*\) ([0-9]* bytes)$/\1/p' "$log.out" | tail -n 1)
if [ "$status" -ne 0 ] || [ -z "$output" ] || [ ! -s "$output" ]; then
  echo "record: the recording failed (vexarec status $status):" >&2
  grep -v "^\[Info\]" "$log" | tail -n 20 >&2
  rm -f "$log" "$log.out"
  exit 1
fi
lost=$(grep -c "We lost" "$log" || true)
rm -f "$log" "$log.out"

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
