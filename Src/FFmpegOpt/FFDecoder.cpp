#include "FFmpegOpt/FFDecoder.h"

namespace vexa {

std::string TFFDecoder::FileName() const { return Context_ && Context_->url ? Context_->url : ""; }

std::string TFFDecoder::FormatName() const {
  return Context_ && Context_->iformat && Context_->iformat->name ? Context_->iformat->name : "";
}

int64_t TFFDecoder::Duration() const {
  return Context_ && Context_->duration != AV_NOPTS_VALUE ? Context_->duration : -1;
}

int64_t TFFDecoder::StartTime() const {
  return Context_ && Context_->start_time != AV_NOPTS_VALUE ? Context_->start_time : -1;
}

int TFFDecoder::StreamCount() const { return Context_ ? static_cast<int>(Context_->nb_streams) : 0; }

TStreamDescription TFFDecoder::Stream(int index) const {
  TStreamDescription d;
  if (!Context_ || index < 0 || index >= StreamCount()) return d;
  const AVStream* st = Context_->streams[index];
  const AVCodecParameters* par = st->codecpar;
  d.Index = index;
  d.MediaType = par->codec_type;
  if (par->codec_id != AV_CODEC_ID_NONE) d.CodecName = avcodec_get_name(par->codec_id);
  d.Width = par->width;
  d.Height = par->height;
  d.FrameRate = st->avg_frame_rate;
  d.SampleRate = par->sample_rate;
  d.Channels = par->ch_layout.nb_channels;
  d.BitRate = par->bit_rate;
  d.AttachedPicture = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
  return d;
}

std::string TFFDecoder::Metadata(const std::string& key) const {
  if (!Context_) return "";
  const AVDictionaryEntry* e = av_dict_get(Context_->metadata, key.c_str(), nullptr, AV_DICT_MATCH_CASE);
  return e ? e->value : "";
}

}  // namespace vexa
