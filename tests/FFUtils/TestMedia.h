// Writes small media files with the libraries' encoders and muxers.
#pragma once

#include <string>

namespace vexa::test {

// A Matroska file with one MPEG-4 video stream (64x48, 10 frames at 10 fps)
// and one MP2 audio stream (44100 Hz stereo, 1 s). Returns 0 or a negative
// media error.
int WriteVideoAudioFile(const std::string& path);

}  // namespace vexa::test
