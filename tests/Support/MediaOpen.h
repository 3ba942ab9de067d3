// Opening media files, decoders and encoders in test helpers.
#pragma once

#include <functional>
#include <string>

#include "Support/MediaOwners.h"

namespace vexa::test {

// Opens the file and reads its stream information; nullptr when either fails.
TInputPtr OpenMediaInput(const std::string& path);

// The decoder of the stream, set up from its parameters and time base and
// opened; nullptr when there is none or it does not open.
TCodecPtr OpenDecoder(const AVStream* st);

// An encoder of `id` for a stream of `oc`: `setup` fills in the parameters,
// the global-header flag follows the output format. Throws
// std::runtime_error with the library's error text when it does not open.
TCodecPtr OpenEncoder(AVCodecID id, const std::function<void(AVCodecContext*)>& setup, const AVFormatContext* oc);

}  // namespace vexa::test
