#include "Base/ProgramFormats.h"

#include <cstring>
#include <mutex>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace vexa {

namespace {

struct TRegistry {
  std::mutex Lock;
  std::vector<const TProgramInputFormat*> Formats;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

// Frees the private context (options first) and the format context.
void FreeProgramInput(AVFormatContext* s) {
  if (!s) return;
  if (s->priv_data) {
    const AVClass* const* cls = static_cast<const AVClass* const*>(s->priv_data);
    if (*cls) av_opt_free(s->priv_data);
    av_freep(&s->priv_data);
  }
  avformat_free_context(s);
}

}  // namespace

void RegisterProgramInputFormat(const TProgramInputFormat* format) {
  if (!format || !format->Name) return;
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const TProgramInputFormat* f : r.Formats)
    if (std::strcmp(f->Name, format->Name) == 0) return;
  r.Formats.push_back(format);
}

const TProgramInputFormat* FindProgramInputFormat(const std::string& name) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (const TProgramInputFormat* f : r.Formats)
    if (name == f->Name) return f;
  return nullptr;
}

std::vector<const AVClass*> ProgramInputFormatClasses() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::vector<const AVClass*> classes;
  for (const TProgramInputFormat* f : r.Formats)
    if (f->PrivClass) classes.push_back(f->PrivClass);
  return classes;
}

int OpenProgramInput(AVFormatContext** ps, const TProgramInputFormat* format,
                     const std::string& url, AVDictionary** options) {
  if (!ps) return AVERROR(EINVAL);
  *ps = nullptr;
  if (!format || !format->ReadHeader || !format->ReadPacket) return AVERROR(EINVAL);
  if (format->PrivDataSize > 0 && format->PrivDataSize < static_cast<int>(sizeof(void*)))
    return AVERROR(EINVAL);

  AVFormatContext* s = avformat_alloc_context();
  if (!s) return AVERROR(ENOMEM);
  s->url = av_strdup(url.c_str());
  if (!s->url) {
    FreeProgramInput(s);
    return AVERROR(ENOMEM);
  }

  // Work on a copy so that *options ends up holding only the unused keys.
  AVDictionary* rest = nullptr;
  int ret = 0;
  if (options && *options) ret = av_dict_copy(&rest, *options, 0);
  // Generic format-context options (fflags, rtbufsize, ...) first, as the
  // library does for its own demuxers.
  if (ret >= 0) ret = av_opt_set_dict(s, &rest);

  if (ret >= 0 && format->PrivDataSize > 0) {
    s->priv_data = av_mallocz(format->PrivDataSize);
    if (!s->priv_data) {
      ret = AVERROR(ENOMEM);
    } else if (format->PrivClass) {
      *static_cast<const AVClass**>(s->priv_data) = format->PrivClass;
      av_opt_set_defaults(s->priv_data);
      ret = av_opt_set_dict(s->priv_data, &rest);
    }
  }

  // As for library demuxers: length and start stay unknown unless the
  // format's header read fills them.
  s->duration = AV_NOPTS_VALUE;
  s->start_time = AV_NOPTS_VALUE;
  if (ret >= 0) ret = format->ReadHeader(s);

  if (ret < 0) {
    av_dict_free(&rest);
    FreeProgramInput(s);
    return ret;
  }
  if (options) {
    av_dict_free(options);
    *options = rest;
  } else {
    av_dict_free(&rest);
  }
  *ps = s;
  return 0;
}

int ReadProgramInput(AVFormatContext* s, const TProgramInputFormat* format, AVPacket* pkt) {
  if (!s || !format || !format->ReadPacket || !pkt) return AVERROR(EINVAL);
  int ret = format->ReadPacket(s, pkt);
  if (ret < 0) return ret;
  // Finish the packet as av_read_frame would for a stream without reordering.
  if (pkt->stream_index >= 0 && pkt->stream_index < static_cast<int>(s->nb_streams))
    pkt->time_base = s->streams[pkt->stream_index]->time_base;
  if (pkt->dts == AV_NOPTS_VALUE) pkt->dts = pkt->pts;
  return 0;
}

void CloseProgramInput(AVFormatContext** ps, const TProgramInputFormat* format) {
  if (!ps || !*ps) return;
  AVFormatContext* s = *ps;
  if (format && format->ReadClose) format->ReadClose(s);
  FreeProgramInput(s);
  *ps = nullptr;
}

}  // namespace vexa
