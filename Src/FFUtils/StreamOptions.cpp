#include <new>
#include <string>

#include "FFLog/FFLog.h"
#include "FFUtils/FFUtils.h"
#include "FFUtils/UtilLog.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace vexa {

namespace {

bool ClassHas(const AVClass* cls, const char* key, int optFlags) {
  if (!cls) return false;
  const AVClass* fake = cls;
  return av_opt_find(&fake, key, nullptr, optFlags, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

}  // namespace

int CheckStreamSpecifier(AVFormatContext* s, AVStream* st, const char* specifier) {
  return avformat_match_stream_specifier(s, st, specifier);
}

TDictionary FilterCodecOptions(const AVDictionary* options, AVCodecID codecId, AVFormatContext* s,
                               AVStream* st, const AVCodec* codec) {
  TDictionary result;
  const bool output = s->oformat != nullptr;
  int flags = output ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
  if (!codec) codec = output ? avcodec_find_encoder(codecId) : avcodec_find_decoder(codecId);

  char prefix = 0;
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      prefix = 'v';
      flags |= AV_OPT_FLAG_VIDEO_PARAM;
      break;
    case AVMEDIA_TYPE_AUDIO:
      prefix = 'a';
      flags |= AV_OPT_FLAG_AUDIO_PARAM;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      prefix = 's';
      flags |= AV_OPT_FLAG_SUBTITLE_PARAM;
      break;
    default:
      break;
  }

  const AVClass* codecClass = avcodec_get_class();
  const AVClass* privClass = codec ? codec->priv_class : nullptr;

  const AVDictionaryEntry* t = nullptr;
  while ((t = av_dict_get(options, "", t, AV_DICT_IGNORE_SUFFIX))) {
    std::string key = t->key;
    const std::string::size_type colon = key.find(':');
    if (colon != std::string::npos) {
      const int match = CheckStreamSpecifier(s, st, t->key + colon + 1);
      if (match < 0) return TDictionary();
      if (match == 0) continue;
      key.resize(colon);
    }
    if (ClassHas(codecClass, key.c_str(), flags) || ClassHas(privClass, key.c_str(), flags)) {
      if (result.Set(key.c_str(), t->value) < 0) throw std::bad_alloc();
    } else if (prefix && !key.empty() && key[0] == prefix &&
               ClassHas(codecClass, key.c_str() + 1, flags)) {
      if (result.Set(key.c_str() + 1, t->value) < 0) throw std::bad_alloc();
    }
  }
  return result;
}

TDictionaryArray StreamInfoOptions(AVFormatContext* s, const AVDictionary* codecOptions) {
  if (!s || s->nb_streams == 0) return TDictionaryArray();
  try {
    TDictionaryArray result(s->nb_streams);
    for (unsigned i = 0; i < s->nb_streams; ++i) {
      AVStream* st = s->streams[i];
      result.Set(i, FilterCodecOptions(codecOptions, st->codecpar->codec_id, s, st, nullptr));
    }
    return result;
  } catch (const std::bad_alloc&) {
    utils_detail::LogLine(llError, "Could not alloc memory for stream options.\n");
    return TDictionaryArray();
  }
}

}  // namespace vexa
