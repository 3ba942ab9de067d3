// The fast way from a captured picture to the encoders' usual format: a
// same-size conversion of 32-bit RGB pictures (BGRA and BGR0 above all, the
// screen's layouts) to yuv420p with the SIMD code of libyuv, into frames whose
// buffers come from a pool. BT.601 limited range, as swscale's default.
#pragma once

#include <memory>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace vexa {

// Whether TYuvConverter converts pictures of `format` to yuv420p.
bool YuvConverterAccepts(AVPixelFormat format);

class TYuvConverter {
 public:
  TYuvConverter() = default;
  ~TYuvConverter();
  TYuvConverter(const TYuvConverter&) = delete;
  TYuvConverter& operator=(const TYuvConverter&) = delete;

  // Makes `dst` (unreferenced) a yuv420p picture of src's size and
  // properties, converted from `src` (a format YuvConverterAccepts). The
  // picture's buffer is pooled: it returns to the converter when the last
  // reference goes, also after the converter is gone. 0, or a negative code
  // (AVERROR(EINVAL) for a format it does not take, AVERROR(ENOMEM)).
  int Convert(const AVFrame* src, AVFrame* dst);

 private:
  struct TPoolDeleter {
    void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
  };
  std::unique_ptr<AVBufferPool, TPoolDeleter> Pool_;
  int PoolWidth_ = 0, PoolHeight_ = 0;
};

}  // namespace vexa
