#include "FFUtils/YuvConverter.h"

#include <libyuv/convert.h>

#include <cerrno>
#include <climits>

extern "C" {
#include <libavutil/error.h>
}

namespace vexa {

namespace {

using TToI420 = int (*)(const uint8_t* src, int srcStride, uint8_t* y, int yStride, uint8_t* u, int uStride,
                        uint8_t* v, int vStride, int width, int height);

// libyuv names packed formats by their 32-bit value, little-endian: its
// "ARGB" is blue, green, red, alpha in memory (BGRA here). The fourth byte is
// never read for the colour, so the 0 formats share their alpha twin's code.
TToI420 ConverterFor(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0:
      return libyuv::ARGBToI420;
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_RGB0:
      return libyuv::ABGRToI420;
    case AV_PIX_FMT_ARGB:
    case AV_PIX_FMT_0RGB:
      return libyuv::BGRAToI420;
    case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_0BGR:
      return libyuv::RGBAToI420;
    default:
      return nullptr;
  }
}

constexpr int kAlign = 64;

int Aligned(int n) { return (n + kAlign - 1) / kAlign * kAlign; }

struct TLayout {
  int LumaStride, ChromaStride;
  size_t LumaBytes, ChromaBytes;
  size_t Total() const { return LumaBytes + 2 * ChromaBytes + kAlign; }
};

TLayout LayoutOf(int width, int height) {
  TLayout l;
  l.LumaStride = Aligned(width);
  l.ChromaStride = Aligned((width + 1) / 2);
  l.LumaBytes = static_cast<size_t>(l.LumaStride) * height;
  l.ChromaBytes = static_cast<size_t>(l.ChromaStride) * ((height + 1) / 2);
  return l;
}

}  // namespace

bool YuvConverterAccepts(AVPixelFormat format) { return ConverterFor(format) != nullptr; }

TYuvConverter::~TYuvConverter() = default;

int TYuvConverter::Convert(const AVFrame* src, AVFrame* dst) {
  const TToI420 convert = ConverterFor(static_cast<AVPixelFormat>(src->format));
  const int width = src->width, height = src->height;
  if (!convert || width <= 0 || height <= 0 || width > INT_MAX / 4 - kAlign || !src->data[0]) return AVERROR(EINVAL);
  const TLayout layout = LayoutOf(width, height);
  if (!Pool_ || width != PoolWidth_ || height != PoolHeight_) {
    Pool_.reset(av_buffer_pool_init(layout.Total(), nullptr));
    if (!Pool_) return AVERROR(ENOMEM);
    PoolWidth_ = width;
    PoolHeight_ = height;
  }
  AVBufferRef* buffer = av_buffer_pool_get(Pool_.get());
  if (!buffer) return AVERROR(ENOMEM);

  int ret = av_frame_copy_props(dst, src);
  if (ret < 0) {
    av_buffer_unref(&buffer);
    return ret;
  }
  // The planes start on aligned addresses inside the buffer.
  const uintptr_t base = reinterpret_cast<uintptr_t>(buffer->data);
  uint8_t* y = buffer->data + (kAlign - base % kAlign) % kAlign;
  dst->buf[0] = buffer;
  dst->data[0] = y;
  dst->data[1] = y + layout.LumaBytes;
  dst->data[2] = y + layout.LumaBytes + layout.ChromaBytes;
  dst->linesize[0] = layout.LumaStride;
  dst->linesize[1] = dst->linesize[2] = layout.ChromaStride;
  dst->extended_data = dst->data;
  dst->format = AV_PIX_FMT_YUV420P;
  dst->width = width;
  dst->height = height;
  ret = convert(src->data[0], src->linesize[0], dst->data[0], dst->linesize[0], dst->data[1], dst->linesize[1],
                dst->data[2], dst->linesize[2], width, height);
  if (ret != 0) {
    av_frame_unref(dst);
    return AVERROR(EINVAL);
  }
  return 0;
}

}  // namespace vexa
