#!/usr/bin/env bash
# The main job: a screen recording with sound, through the engine's vexaenc.
#
#   scripts/record.sh [SECONDS] [OUTPUT-FILE]
#
# On a desktop (DISPLAY set) it records an 800x600 rectangle at 10,10 of the
# real screen with the default sound source. Without one it starts a private
# virtual display and sound server, shows a moving picture with a tone
# (vexademo) and records that. Prints where the file is and what it holds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
output=${2:-$root/out/VexaScreenRecorder-800-600_(new).mp4}

if [ -z "${VEXA_RECORD_INNER:-}" ]; then
  bash "$root/scripts/setup-deps.sh"
  cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/build/release" --target vexaenc vexademo -j "$(nproc 2>/dev/null || echo 2)"
  mkdir -p "$(dirname "$output")"
  if [ -z "${DISPLAY:-}" ]; then
    echo "record: no desktop here; starting a virtual display and sound server"
    exec env VEXA_RECORD_INNER=demo "$root/scripts/test-env.sh" "$0" "$seconds" "$output"
  fi
  export VEXA_RECORD_INNER=desktop
fi

bin="$root/build/release/tools"
demo_pid=""
if [ "$VEXA_RECORD_INNER" = demo ]; then
  "$bin/vexademo" --x 0 --y 0 --width 840 --height 640 &
  demo_pid=$!
  sleep 1
fi

threads=$(nproc 2>/dev/null || echo 1)
threads_part=""
[ "$threads" -gt 1 ] && threads_part="  -threads $threads"
input_line=" -f gdicapture  -capture_offset 10,10 -capture_flags +showframe+client+cursor  -s 800x600 -r 15 -ar 44100 -ac 2 -sample_fmt s16 "
output_line=" -c:v mpeg4 -c:a aac -s 800x600 -ac 2  -b:a 128k -ar 44100 -sn -b:v 768k -qscale 6 ${threads_part}   -async 1 -vsync 1 "

rm -f "$output"
echo "record: recording $seconds s of the screen into $output"
status=0
timeout -s INT -k 20 "$seconds" "$bin/vexaenc" "video=0:audio=-1" "$input_line" "$output" "$output_line" || status=$?
[ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null && wait "$demo_pid" 2>/dev/null || true
# timeout reports 124 when it had to stop the recording, which is the normal end.
if [ "$status" -ne 0 ] && [ "$status" -ne 124 ]; then
  echo "record: vexaenc failed with status $status" >&2
  exit "$status"
fi
if [ ! -s "$output" ]; then
  echo "record: no file was written" >&2
  exit 1
fi
echo "record: wrote $output"
mediainfo --Inform="General;  %Format%, %Duration/String3%, %FileSize/String%" "$output" || true
mediainfo --Inform="Video;  video: %Format% %Width%x%Height% %FrameRate% fps, %FrameCount% frames" "$output" || true
mediainfo --Inform="Audio;  audio: %Format% %SamplingRate% Hz, %Channel(s)% channels, %Duration/String3%" "$output" || true
