// Input formats defined by the program itself (the screen/sound capture format),
// kept in a process-wide registry that the engine's input side consults before
// the library's own demuxers.
//
// Opening a program input: a fresh AVFormatContext gets a zeroed private
// context of PrivDataSize bytes whose first member is the AVClass pointer;
// generic format-context options (fflags, rtbufsize, ...) are applied to the
// AVFormatContext first, then the private options with av_opt_set_defaults and
// av_opt_set_dict (which keeps the unused keys in *options, so leftovers are
// reported as for any input); then ReadHeader creates the streams and fills
// their codecpar. A failing ReadHeader releases what it made itself (ReadClose
// is not called for it); the contexts are freed here. The library's
// stream probing is not run for these formats: their streams are fully
// described by ReadHeader.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vexa {

struct TProgramInputFormat {
  const char* Name = nullptr;      // the -f name
  const char* LongName = nullptr;
  int Flags = 0;                   // AVFMT_* flags, e.g. AVFMT_NOFILE
  // Packets carry the real times their content was captured (a live device).
  // A forced input rate then paces the device and keeps those times: frames
  // the device lost or dropped stay gaps for the output's frame-rate
  // conversion to fill, instead of being closed up by renumbering.
  bool CaptureTimestamps = false;
  const AVClass* PrivClass = nullptr;  // option table of the private context
  int PrivDataSize = 0;            // bytes; the context starts with const AVClass*
  // s->url holds the input name, s->priv_data the private context.
  int (*ReadHeader)(AVFormatContext* s) = nullptr;
  // Returns 0 or the payload size with a packet, AVERROR(EAGAIN) when
  // non-blocking and nothing is ready, AVERROR_EOF at the end, or another
  // negative error.
  int (*ReadPacket)(AVFormatContext* s, AVPacket* pkt) = nullptr;
  int (*ReadClose)(AVFormatContext* s) = nullptr;
  // Optional. Ends a live input at a stop: its producers stop and hand over
  // what they hold; later reads return the rest, then AVERROR_EOF.
  void (*Finish)(AVFormatContext* s) = nullptr;
  // Optional. What made the last read fail, in words (empty: only the
  // error code tells).
  std::string (*FailureText)(AVFormatContext* s) = nullptr;
};

// Adds a format; a second format of the same name is ignored. The record must
// outlive the process's use of it (a static object).
void RegisterProgramInputFormat(const TProgramInputFormat* format);

// The registered format of that name, or nullptr.
const TProgramInputFormat* FindProgramInputFormat(const std::string& name);

// The option classes of every registered format, for option routing.
std::vector<const AVClass*> ProgramInputFormatClasses();

// Opens `url` with `format` into *ps (allocated here; nullptr on failure).
// `options` may be nullptr; on return it holds the options the format did not use.
int OpenProgramInput(AVFormatContext** ps, const TProgramInputFormat* format,
                     const std::string& url, AVDictionary** options);

// Reads the next packet of an input opened with OpenProgramInput. Returns 0
// with a packet (as av_read_frame: time_base set, a missing dts taken from
// pts), or the format's negative result.
int ReadProgramInput(AVFormatContext* s, const TProgramInputFormat* format, AVPacket* pkt);

// Runs the format's close, frees the private context and the format context,
// and sets *ps to nullptr. Safe on nullptr.
void CloseProgramInput(AVFormatContext** ps, const TProgramInputFormat* format);

}  // namespace vexa
