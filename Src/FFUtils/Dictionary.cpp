#include "FFUtils/FFUtils.h"

namespace vexa {

TDictionary TDictionary::Clone() const {
  AVDictionary* copy = nullptr;
  if (Dict_ && av_dict_copy(&copy, Dict_, 0) < 0) {
    av_dict_free(&copy);
    throw std::bad_alloc();
  }
  return TDictionary(copy);
}

const char* TDictionary::Value(const char* key) const {
  const AVDictionaryEntry* e = av_dict_get(Dict_, key, nullptr, AV_DICT_MATCH_CASE);
  return e ? e->value : nullptr;
}

int TDictionary::Set(const char* key, const char* value, int flags) {
  return av_dict_set(&Dict_, key, value, flags);
}

TDictionaryArray& TDictionaryArray::operator=(TDictionaryArray&& other) noexcept {
  if (this != &other) {
    Clear();
    Dicts_ = std::move(other.Dicts_);
    other.Dicts_.clear();
  }
  return *this;
}

void TDictionaryArray::Set(std::size_t i, TDictionary dict) {
  av_dict_free(&Dicts_[i]);
  Dicts_[i] = dict.Release();
}

void TDictionaryArray::Clear() {
  for (AVDictionary*& d : Dicts_) av_dict_free(&d);
  Dicts_.clear();
}

void TOptionGroupDicts::Clear() {
  CodecOptions.Reset();
  FormatOptions.Reset();
  ResampleOptions.Reset();
  ScalerOptions.reset();
  ResamplerOptions.Reset();
}

}  // namespace vexa
