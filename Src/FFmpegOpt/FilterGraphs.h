// Helpers of filter graph setup that the engine and its tests share: pad
// names, the encoder's pixel and audio format lists, and the choice of a
// supported pixel format.
//
// Lists handed to the "format" and "aformat" filters are separated by "|",
// the list syntax of the filter library the engine is built against.
#pragma once

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavutil/pixfmt.h>
}

namespace vexa {

// The filter instance's name, followed by ":" and the pad's name when the
// filter has more than one pad in that direction.
std::string FilterPadName(const AVFilterContext* ctx, int padIndex, bool input);

// The media type of pad `padIndex` of `ctx` (an input or an output pad).
AVMediaType FilterPadType(const AVFilterContext* ctx, int padIndex, bool input);

// The encoder's pixel formats, with the JPEG lists used under unofficial
// compliance (strict_std_compliance <= -1) for mjpeg and ljpeg; nullptr when
// the encoder lists none. The list ends with AV_PIX_FMT_NONE.
const AVPixelFormat* EncoderPixelFormats(const AVCodec* encoder, const AVCodecContext* ctx);

// `requested` when the encoder supports it or lists no formats, otherwise the
// best listed one (with the warning "Incompatible pixel format ..." when a
// format was requested).
AVPixelFormat ChooseSupportedPixelFormat(AVPixelFormat requested, const AVCodec* encoder,
                                         const AVCodecContext* ctx);

// The pixel format list of a video output ("" for none); see FilterGraphs.cpp.
std::string OutputPixelFormats(const AVCodecContext* ctx, const AVCodec* encoder, bool keepPixFmt);

// The arguments of the "aformat" filter of an audio output: "sample_fmts=...:",
// "sample_rates=...:", "channel_layouts=...:" for each list that results; ""
// when none does.
std::string OutputAudioFormats(const AVCodecContext* ctx, const AVCodec* encoder);

// `description` with every "movie"/"amovie" source whose file name reads as a
// numbered image sequence ("%d") but names an existing file told to open that
// file as it is (":format_opts=pattern_type=none" after its arguments). Real
// sequence patterns and sources with their own demuxer options stay as they are.
std::string LiteralMovieSources(const std::string& description);

}  // namespace vexa
