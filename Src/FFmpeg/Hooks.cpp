// The hook layer of the loop: video hooks on the bitmap of a format
// converter, frame hooks on the raw planes, audio hooks on the samples, the
// two previews, and deinterlacing of the input-side copy.
#include <cstring>
#include <exception>

#include "Base/MainThread.h"
#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"
#include "FFmpeg/VHookModule.h"
#include "Previewer/Previewer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {

std::string ExceptionText(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& ex) {
    return ex.what();
  } catch (...) {
    return "unknown exception";
  }
}

TAVPicture PictureOf(const AVFrame* AFrame) {
  TAVPicture picture;
  for (int i = 0; i < 8; ++i) {
    picture.Data[i] = AFrame->data[i];
    picture.LineSize[i] = AFrame->linesize[i];
  }
  return picture;
}

// Vertical low-pass (-1 4 2 4 -1)/8 over every line of an 8-bit plane: the
// two fields blend into one picture. The edges repeat their outer lines.
void DeinterlacePlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int width, int height) {
  auto line = [&](int y) { return src + static_cast<ptrdiff_t>(y < 0 ? 0 : (y >= height ? height - 1 : y)) * srcStride; };
  for (int y = 0; y < height; ++y) {
    const uint8_t* a = line(y - 2);
    const uint8_t* b = line(y - 1);
    const uint8_t* c = line(y);
    const uint8_t* d = line(y + 1);
    const uint8_t* e = line(y + 2);
    uint8_t* out = dst + static_cast<ptrdiff_t>(y) * dstStride;
    for (int x = 0; x < width; ++x) {
      const int v = (-a[x] + 4 * b[x] + 2 * c[x] + 4 * d[x] - e[x] + 4) >> 3;
      out[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
}

// Deinterlaces a planar 8-bit YUV or grey picture; false for other formats.
bool Deinterlace(const TAVPicture& dst, const AVFrame* src) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(src->format));
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)) ||
      !(desc->flags & AV_PIX_FMT_FLAG_PLANAR || desc->nb_components == 1))
    return false;
  for (int i = 0; i < desc->nb_components; ++i)
    if (desc->comp[i].depth != 8 || desc->comp[i].step != 1) return false;
  for (int plane = 0; plane < desc->nb_components; ++plane) {
    const bool chroma = plane == 1 || plane == 2;
    const int w = chroma ? AV_CEIL_RSHIFT(src->width, desc->log2_chroma_w) : src->width;
    const int h = chroma ? AV_CEIL_RSHIFT(src->height, desc->log2_chroma_h) : src->height;
    DeinterlacePlane(dst.Data[plane], dst.LineSize[plane], src->data[plane], src->linesize[plane], w, h);
  }
  return true;
}

}  // namespace

// --- hook buffers

TCustomFFmpeg::THookBuffer::~THookBuffer() { Free(); }

void TCustomFFmpeg::THookBuffer::Free() {
  av_buffer_pool_uninit(&Pool_);
  Size_ = 0;
}

AVBufferRef* TCustomFFmpeg::THookBuffer::Get(size_t ASize) {
  if (!Pool_ || ASize > Size_) {
    // Buffers of the old pool still in use stay valid until released.
    av_buffer_pool_uninit(&Pool_);
    Size_ = 0;
    Pool_ = av_buffer_pool_init(ASize, nullptr);
    if (!Pool_) return nullptr;
    Size_ = ASize;
  }
  return av_buffer_pool_get(Pool_);
}

AVBufferRef* TCustomFFmpeg::NewHookPicture(THookBuffer& ABuffer, const AVFrame* AFrame, const char* AMallocMessage,
                                           TAVPicture& APicture) {
  const AVPixelFormat format = static_cast<AVPixelFormat>(AFrame->format);
  const int size = av_image_get_buffer_size(format, AFrame->width, AFrame->height, 1);
  if (size < 0) {
    Log(this, llError, "avpicture_get_size() returns error.");
    return nullptr;
  }
  AVBufferRef* buffer = ABuffer.Get(static_cast<size_t>(size));
  if (!buffer) {
    Log(this, llError, AMallocMessage);
    return nullptr;
  }
  APicture = TAVPicture{};
  av_image_fill_arrays(APicture.Data, APicture.LineSize, buffer->data, format, AFrame->width, AFrame->height, 1);
  return buffer;
}

AVBufferRef* TCustomFFmpeg::CopyToHookBuffer(THookBuffer& ABuffer, const AVFrame* AFrame, bool ADeinterlace,
                                             const char* AMallocMessage, TAVPicture& APicture) {
  AVBufferRef* buffer = NewHookPicture(ABuffer, AFrame, AMallocMessage, APicture);
  if (!buffer) return nullptr;
  const AVPixelFormat format = static_cast<AVPixelFormat>(AFrame->format);
  if (ADeinterlace && Deinterlace(APicture, AFrame)) return buffer;
  if (ADeinterlace) Log(this, llWarning, "Deinterlacing failed.");
  av_image_copy(APicture.Data, APicture.LineSize, const_cast<const uint8_t**>(AFrame->data), AFrame->linesize, format,
                AFrame->width, AFrame->height);
  return buffer;
}

void TCustomFFmpeg::ReplacePicture(AVFrame* AFrame, AVBufferRef* ABuffer, const TAVPicture& APicture) {
  TAVFramePtr replaced(av_frame_alloc());
  if (!replaced || av_frame_copy_props(replaced.get(), AFrame) < 0) {
    av_buffer_unref(&ABuffer);
    AbortWithError("memory malloc error in pre_process_video_frame().");
  }
  replaced->width = AFrame->width;
  replaced->height = AFrame->height;
  replaced->format = AFrame->format;
  replaced->buf[0] = ABuffer;
  for (int i = 0; i < 8; ++i) {
    replaced->data[i] = APicture.Data[i];
    replaced->linesize[i] = APicture.LineSize[i];
  }
  av_frame_unref(AFrame);
  av_frame_move_ref(AFrame, replaced.get());
}

// --- video hooks

bool TCustomFFmpeg::RunVideoHook(TTaskVideoHookCallback& ASlot, TFormatConverter& AConverter,
                                 const TAVPicture& APicture, int APixFmt, int AWidth, int AHeight, int64_t APTS,
                                 int AFrameNumber, const TWriteTarget& AWriteTarget) {
  std::lock_guard<std::recursive_mutex> canvas(AConverter.Bitmap().CanvasLock());
  bool ready = AConverter.FrameToBitmap(APicture, APixFmt, true, AHeight, AWidth);
  bool disconnect = !ready;
  if (!ready) {
    Log(this, llError, AConverter.LastError());
  } else {
    bool update = true;
    bool stop = false;
    try {
      ASlot(this, &AConverter.Bitmap(), stop, update, APTS, AFrameNumber);
    } catch (...) {
      Log(this, llError, "Error occurs VideoHook event: " + ExceptionText(std::current_exception()));
      update = false;
    }
    const TAVPicture* target = update ? (AWriteTarget ? AWriteTarget() : &APicture) : nullptr;
    if (target && !AConverter.Converted()) {
      AConverter.CopyFromBitmap(*target);
    } else if (target) {
      AConverter.CopyFromBitmap();
      if (!AConverter.BitmapToFrame(*target, APixFmt, AHeight, AWidth)) {
        Log(this, llError, AConverter.LastError());
        disconnect = true;
      }
    } else if (GetPreviewFlags() != 0) {
      // The bitmap may hold drawing that the picture does not.
      ready = false;
    }
    if (stop) disconnect = true;
  }
  if (disconnect) ASlot = nullptr;
  return ready;
}

void TCustomFFmpeg::PreProcessVideoFrame(TInputStream* AStream, AVFrame* AFrame) {
  AStream->HookFrameNumber++;
  const int64_t pts = AStream->Pts;
  if (!DoDeinterlace && !FrameInputHook && !VideoInputHook && !VHookActive) return;

  if (VideoInputHook && !FrameInputHook && !DoDeinterlace) {
    // The bitmap is filled from the decoder's picture; only a drawing to
    // write back needs a picture of the task's own, which then replaces the
    // frame's (the decoder's buffers are never changed).
    AVBufferRef* buffer = nullptr;
    TAVPicture written;
    RunVideoHook(VideoInputHook, HookConverter, PictureOf(AFrame), AFrame->format, AFrame->width, AFrame->height, pts,
                 AStream->HookFrameNumber, [&]() -> const TAVPicture* {
                   buffer = NewHookPicture(InputHookBuffer_, AFrame,
                                           "memory malloc error in pre_process_video_frame().", written);
                   return buffer ? &written : nullptr;
                 });
    if (buffer) ReplacePicture(AFrame, buffer, written);
    return;
  }

  // The hooks work on a copy: the decoder's buffers are never changed.
  TAVPicture picture;
  AVBufferRef* buffer = CopyToHookBuffer(InputHookBuffer_, AFrame, DoDeinterlace != 0,
                                         "memory malloc error in pre_process_video_frame().", picture);
  if (!buffer) return;
  const int format = AFrame->format;
  if (FrameInputHook) {
    try {
      FrameInputHook(this, &picture, pts, AFrame->height, AFrame->width, AStream->HookFrameNumber, format);
    } catch (...) {
      Log(this, llError, "Error occurs FrameHook event: " + ExceptionText(std::current_exception()));
    }
  }
  if (VideoInputHook) {
    RunVideoHook(VideoInputHook, HookConverter, picture, format, AFrame->width, AFrame->height, pts,
                 AStream->HookFrameNumber);
  } else if (VHookActive) {
    for (const TVHookModule& module : VHookModules) {
      VexaVHookPicture modulePicture;
      for (int i = 0; i < 8; ++i) {
        modulePicture.data[i] = picture.Data[i];
        modulePicture.linesize[i] = picture.LineSize[i];
      }
      reinterpret_cast<VexaVHookProcess>(module.Process)(module.Context, &modulePicture, format, AFrame->width,
                                                          AFrame->height, pts);
    }
  }
  ReplacePicture(AFrame, buffer, picture);
}

bool TCustomFFmpeg::PostProcessVideoFrame(AVFrame* AFrame, AVCodecContext* /*AEncoder*/, int64_t APTS,
                                          int AFrameNumber) {
  if (!VideoOutputHook && !FrameOutputHook) return false;
  // The encoder gets the hooked copy; the filter graph's buffer stays as it is.
  TAVPicture picture;
  AVBufferRef* buffer = CopyToHookBuffer(OutputHookBuffer_, AFrame, false, "hook buf malloc error.", picture);
  if (!buffer) return false;
  bool ready = false;
  if (VideoOutputHook)
    ready = RunVideoHook(VideoOutputHook, PreviewConverter, picture, AFrame->format, AFrame->width, AFrame->height,
                         APTS, AFrameNumber);
  if (FrameOutputHook) {
    try {
      FrameOutputHook(this, &picture, APTS, AFrame->height, AFrame->width, AFrameNumber, AFrame->format);
    } catch (...) {
      Log(this, llError, "Error occurs FrameHook event: " + ExceptionText(std::current_exception()));
    }
  }
  ReplacePicture(AFrame, buffer, picture);
  return ready;
}

// --- previews

void TCustomFFmpeg::PreviewStep(AVFrame* AFrame, AVCodecContext* /*AEncoder*/, bool ABitmapReady, int64_t APTS,
                                int AFrameNumber) {
  // PreviewLock guards the flags and the timing; it is not held while the
  // worker waits for the main thread (the preview bitmap event, the window),
  // where a main thread changing the flags would wait for it in turn.
  enum { kNone, kBitmap, kWindow } output = kNone;
  bool flagsChanged = false;
  std::shared_ptr<TPreviewer> previewer;
  {
    std::lock_guard<std::mutex> guard(PreviewLock());
    const int64_t now = av_gettime_relative();
    flagsChanged = PreviewFlagsChanged;
    PreviewFlagsChanged = false;
    if ((PreviewFlags_ & pfPreviewBitmap) && PreviewBitmap) {
      if (now - LastPreviewTime > PreviewInterval) output = kBitmap;
    } else if (PreviewFlags_ & pfPreviewWindow) {
      if (now - LastPreviewTime > PreviewInterval) {
        output = kWindow;
        if (!Previewer_) Previewer_ = std::make_shared<TPreviewer>();
        previewer = Previewer_;
      }
    }
    if (output != kNone) LastPreviewTime = now;
  }
  if (output == kNone) return;

  TBitmap& bitmap = PreviewConverter.Bitmap();
  bool ok = true;
  if (!ABitmapReady || flagsChanged)
    ok = PreviewConverter.FrameToBitmap(PictureOf(AFrame), AFrame->format, true, AFrame->height, AFrame->width);
  if (!ok) Log(this, llError, PreviewConverter.LastError());
  int cleared = 0;
  if (output == kBitmap) {
    if (ok) {
      try {
        PreviewBitmap(this, &bitmap, APTS, AFrameNumber);
      } catch (...) {
        Log(this, llError, "Error occurs PreviewBitmap event: " + ExceptionText(std::current_exception()));
      }
    } else
      cleared = pfPreviewBitmap;
  } else if (!ok || !previewer->Show(bitmap, AFrameNumber, APTS)) {
    cleared = pfPreviewWindow;
  }
  previewer.reset();
  if (cleared) {
    std::shared_ptr<TPreviewer> released;
    {
      std::lock_guard<std::mutex> guard(PreviewLock());
      PreviewFlags_ &= ~cleared;
      if (cleared == pfPreviewWindow) released = std::move(Previewer_);
    }
  }
}

// --- audio hooks

void TCustomFFmpeg::RunAudioHook(TTaskAudioHookCallback& ASlot, AVFrame* AFrame, int64_t APTS) {
  if (!ASlot) return;
  // Changes in place must not reach a buffer someone else still reads.
  if (av_frame_make_writable(AFrame) < 0) {
    Log(this, llError, "memory malloc error in audio hook.");
    return;
  }
  const int channels = AFrame->ch_layout.nb_channels;
  const int size =
      channels * AFrame->nb_samples * av_get_bytes_per_sample(static_cast<AVSampleFormat>(AFrame->format));
  try {
    ASlot(this, AFrame->extended_data[0], APTS, size, AFrame->sample_rate, channels,
          static_cast<AVSampleFormat>(AFrame->format));
  } catch (...) {
    Log(this, llError, "Error occurs AudioHook event: " + ExceptionText(std::current_exception()));
  }
}

// --- option handlers and clean-up

int TCustomFFmpeg::OptVideoHookBitsPixel(TFileOptions*, const std::string& opt, const std::string& arg) {
  try {
    SetHookBitsPixel(ParseInt(opt, arg));
  } catch (const std::exception& e) {
    SetOptionErrorText(e.what());
    Log(this, llError, e.what());
    return AVERROR(EINVAL);
  }
  return 0;
}

void TCustomFFmpeg::ReleaseHooks() {
  for (TVHookModule& module : VHookModules)
    if (module.Release) reinterpret_cast<VexaVHookRelease>(module.Release)(module.Context);
  VHookModules.clear();
  VHookActive = false;
  InputHookBuffer_.Free();
  OutputHookBuffer_.Free();
  std::shared_ptr<TPreviewer> released;
  {
    std::lock_guard<std::mutex> guard(PreviewLock());
    released = std::move(Previewer_);
    LastPreviewTime = 0;
  }
}

}  // namespace vexa
