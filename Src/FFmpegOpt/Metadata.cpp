// Metadata and chapters of a new output: -map_metadata, -map_chapters, the
// automatic copies from the first input, and -metadata.
#include <algorithm>

#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFmpegOpt/OptionText.h"
#include "FFmpegOpt/OutputBuild.h"

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

namespace vexa::output_detail {

namespace {

int Fail(TCustomFFmpegOpt& e, const std::string& message, bool log = false) {
  e.LastErrorText = message;
  if (log) Log(&e, llFatal, message);
  return -1;
}

}  // namespace

int ParseMetadataSpecifier(TCustomFFmpegOpt& e, const std::string& text, TMetadataSpecifier& result) {
  result = TMetadataSpecifier();
  result.Empty = text.empty();
  if (text.empty()) return 0;
  result.Type = text[0];
  const std::string rest = text.substr(1);
  switch (result.Type) {
    case 'g':
      return 0;
    case 's':
      if (!rest.empty() && rest[0] != ':')
        return Fail(e, StrFormat("Invalid metadata specifier %s.", rest.c_str()), true);
      result.Stream = rest.empty() ? std::string() : rest.substr(1);
      return 0;
    case 'c':
    case 'p': {
      const std::string number = !rest.empty() && rest[0] == ':' ? rest.substr(1) : rest;
      std::size_t end = 0;
      result.Index = LeadingInt(number, end);
      return 0;
    }
    default:
      return Fail(e, StrFormat("Invalid metadata type %s.", text.c_str()), true);
  }
}

int CopyMetadata(TCustomFFmpegOpt& e, const std::string& outSpec, const std::string& inSpec,
                 AVFormatContext* oc, AVFormatContext* ic, TFileOptions& o) {
  TMetadataSpecifier out, in;
  if (ParseMetadataSpecifier(e, outSpec, out) < 0) return -1;
  if (ParseMetadataSpecifier(e, inSpec, in) < 0) return -1;

  if (!ic) {
    if (out.Type == 'g' || out.Empty) o.MetadataGlobalManual = 1;
    if (out.Type == 's' || out.Empty) o.MetadataStreamsManual = 1;
    if (out.Type == 'c' || out.Empty) o.MetadataChaptersManual = 1;
    return 0;
  }
  if (in.Type == 'g' || out.Type == 'g') o.MetadataGlobalManual = 1;
  if (in.Type == 's' || out.Type == 's') o.MetadataStreamsManual = 1;
  if (in.Type == 'c' || out.Type == 'c') o.MetadataChaptersManual = 1;

  const char* kind[2] = {"chapter", "program"};
  AVDictionary* source = nullptr;
  switch (in.Type) {
    case 'g':
      source = ic->metadata;
      break;
    case 'c':
      if (in.Index < 0 || in.Index >= static_cast<int>(ic->nb_chapters))
        return Fail(e, StrFormat("Invalid %s index %d while processing metadata maps.", kind[0], in.Index));
      source = ic->chapters[in.Index]->metadata;
      break;
    case 'p':
      if (in.Index < 0 || in.Index >= static_cast<int>(ic->nb_programs))
        return Fail(e, StrFormat("Invalid %s index %d while processing metadata maps.", kind[1], in.Index));
      source = ic->programs[in.Index]->metadata;
      break;
    case 's': {
      bool found = false;
      for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const int ret = CheckStreamSpecifier(ic, ic->streams[i], in.Stream.c_str());
        if (ret < 0) {
          e.LastErrorText = ErrorText("check_stream_specifier", ret);
          return ret;
        }
        if (ret > 0) {
          source = ic->streams[i]->metadata;
          found = true;
          break;
        }
      }
      if (!found)
        return Fail(e, StrFormat("Stream specifier %s does not match  any streams.", in.Stream.c_str()));
      break;
    }
  }

  switch (out.Type) {
    case 'g':
      av_dict_copy(&oc->metadata, source, AV_DICT_DONT_OVERWRITE);
      break;
    case 'c':
      if (out.Index < 0 || out.Index >= static_cast<int>(oc->nb_chapters))
        return Fail(e, StrFormat("Invalid %s index %d while processing metadata maps.", kind[0], out.Index));
      av_dict_copy(&oc->chapters[out.Index]->metadata, source, AV_DICT_DONT_OVERWRITE);
      break;
    case 'p':
      if (out.Index < 0 || out.Index >= static_cast<int>(oc->nb_programs))
        return Fail(e, StrFormat("Invalid %s index %d while processing metadata maps.", kind[1], out.Index));
      av_dict_copy(&oc->programs[out.Index]->metadata, source, AV_DICT_DONT_OVERWRITE);
      break;
    case 's':
      for (unsigned i = 0; i < oc->nb_streams; ++i) {
        const int ret = CheckStreamSpecifier(oc, oc->streams[i], out.Stream.c_str());
        if (ret < 0) {
          e.LastErrorText = ErrorText("check_stream_specifier", ret);
          return ret;
        }
        if (ret > 0) av_dict_copy(&oc->streams[i]->metadata, source, AV_DICT_DONT_OVERWRITE);
      }
      break;
  }
  return 0;
}

int ApplyMetadataMaps(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc) {
  for (const TSpecifierValue& map : o.MetadataMaps) {
    std::size_t end = 0;
    const int fileIndex = LeadingInt(map.Str, end);
    if (fileIndex >= static_cast<int>(e.InputFiles.size()))
      return Fail(e, StrFormat("Invalid input file index %d while processing metadata maps", fileIndex));
    const std::string inSpec = end < map.Str.size() ? map.Str.substr(end + 1) : std::string();
    AVFormatContext* ic =
        fileIndex >= 0 ? e.InputFiles[static_cast<std::size_t>(fileIndex)]->FormatContext : nullptr;
    if (CopyMetadata(e, map.Specifier, inSpec, oc, ic, o) < 0) return -1;
  }
  return 0;
}

int CopyChapters(const TInputFile& ifile, const TOutputFile& ofile, AVFormatContext* oc, bool copyMetadata) {
  const AVFormatContext* is = ifile.FormatContext;
  if (is->nb_chapters == 0) return 0;
  AVChapter** grown = static_cast<AVChapter**>(
      av_realloc_array(oc->chapters, static_cast<size_t>(is->nb_chapters) + oc->nb_chapters, sizeof(AVChapter*)));
  if (!grown) return AVERROR(ENOMEM);
  oc->chapters = grown;

  const int64_t offset = ofile.StartTime - ifile.TsOffset;
  for (unsigned i = 0; i < is->nb_chapters; ++i) {
    const AVChapter* in = is->chapters[i];
    const int64_t tsOff = av_rescale_q(offset, AV_TIME_BASE_Q, in->time_base);
    const int64_t limit =
        ofile.RecordingTime == NoLimit ? INT64_MAX : av_rescale_q(ofile.RecordingTime, AV_TIME_BASE_Q, in->time_base);
    if (in->end < tsOff) continue;
    if (limit != INT64_MAX && in->start > limit + tsOff) break;

    AVChapter* out = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    if (!out) return AVERROR(ENOMEM);
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<int64_t>(0, in->start - tsOff);
    out->end = std::min(limit, in->end - tsOff);
    oc->chapters[oc->nb_chapters++] = out;
    if (copyMetadata && av_dict_copy(&out->metadata, in->metadata, 0) < 0) return AVERROR(ENOMEM);
  }
  return 0;
}

int MapChapters(TCustomFFmpegOpt& e, TFileOptions& o, const TOutputFile& ofile, AVFormatContext* oc) {
  const int inputs = static_cast<int>(e.InputFiles.size());
  int chosen = o.ChaptersInputFile;
  if (chosen >= inputs) {
    if (chosen != INT_MAX) return Fail(e, StrFormat("Invalid input file index %d in chapter mapping.", chosen));
    chosen = -1;
    for (int i = 0; i < inputs; ++i)
      if (e.InputFiles[static_cast<std::size_t>(i)]->FormatContext->nb_chapters > 0) {
        chosen = i;
        break;
      }
  }
  if (chosen < 0) return 0;
  const int ret = CopyChapters(*e.InputFiles[static_cast<std::size_t>(chosen)], ofile, oc, !o.MetadataChaptersManual);
  if (ret < 0) e.LastErrorText = ErrorText(ret);
  return ret;
}

void CopyAutomaticMetadata(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc, int fileIndex) {
  if (!o.MetadataGlobalManual && !e.InputFiles.empty()) {
    av_dict_copy(&oc->metadata, e.InputFiles[0]->FormatContext->metadata, AV_DICT_DONT_OVERWRITE);
    if (o.RecordingTime != NoLimit) av_dict_set(&oc->metadata, "duration", nullptr, 0);
    av_dict_set(&oc->metadata, "creation_time", nullptr, 0);
  }
  if (!o.MetadataStreamsManual) {
    for (const auto& ost : e.OutputStreams) {
      if (ost->FileIndex != fileIndex || ost->SourceIndex < 0) continue;
      const TInputStream& ist = *e.InputStreams[static_cast<std::size_t>(ost->SourceIndex)];
      av_dict_copy(&ost->Stream->metadata, ist.Stream->metadata, AV_DICT_DONT_OVERWRITE);
    }
  }
}

int ApplyMetadataOptions(TCustomFFmpegOpt& e, TFileOptions& o, AVFormatContext* oc) {
  for (const TSpecifierValue& item : o.Metadata) {
    const std::string::size_type eq = item.Str.find('=');
    if (eq == std::string::npos)
      return Fail(e, StrFormat("No \"=\" character in metadata string %s.", item.Str.c_str()));
    const std::string key = item.Str.substr(0, eq);
    const std::string value = item.Str.substr(eq + 1);
    const char* v = value.empty() ? nullptr : value.c_str();

    TMetadataSpecifier parsed;
    if (ParseMetadataSpecifier(e, item.Specifier, parsed) < 0) return -1;
    switch (parsed.Type) {
      case 's':
        for (unsigned i = 0; i < oc->nb_streams; ++i) {
          const int ret = CheckStreamSpecifier(oc, oc->streams[i], parsed.Stream.c_str());
          if (ret < 0) return Fail(e, ErrorText("check_stream_specifier", ret));
          if (ret > 0) av_dict_set(&oc->streams[i]->metadata, key.c_str(), v, 0);
        }
        break;
      case 'g':
        av_dict_set(&oc->metadata, key.c_str(), v, 0);
        break;
      case 'c':
        if (parsed.Index < 0 || parsed.Index >= static_cast<int>(oc->nb_chapters))
          return Fail(e, StrFormat("Invalid chapter index %d in metadata specifier.", parsed.Index));
        av_dict_set(&oc->chapters[parsed.Index]->metadata, key.c_str(), v, 0);
        break;
      default:
        return Fail(e, StrFormat("Invalid metadata specifier %s.", item.Specifier.c_str()));
    }
  }
  return 0;
}

}  // namespace vexa::output_detail
