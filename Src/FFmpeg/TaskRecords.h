// Records exchanged between the encoder component and the application.
// Texts are UTF-8; times are microseconds.
#pragma once

#include <cstdint>
#include <string>

#include "FFmpeg/FFmpeg.h"

namespace vexa {

using TPathFileName = std::string;

struct TInputOptions {
  TPathFileName FileName;  // AddTask fills it with its file name argument when empty
  std::string FileOptions;  // the input's option line
  std::string Presets;      // the input's preset text
  int Reserved1 = 0;
  int Reserved2 = 0;
};
using PInputOptions = TInputOptions*;

struct TOutputOptions {
  TPathFileName FileName;  // SetOutput fills it when empty
  std::string FileOptions;
  std::string Presets;
  bool AudioInputHook = false;
  bool AudioOutputHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int VideoHookBitsPixel = 32;
  bool FrameInputHook = false;
  bool FrameOutputHook = false;
  bool Join = false;  // all inputs of the task are concatenated into this output
  int Reserved1 = 0;
  int Reserved2 = 0;
};
using POutputOptions = TOutputOptions*;

// Empty texts, zeros.
void InitInputOptions(PInputOptions AOptions);
// Empty texts, flags off, VideoHookBitsPixel 32.
void InitOutputOptions(POutputOptions AOptions);

struct TProgressInfo {
  int TaskIndex = 0;
  int FileIndex = 0;           // join segment being read; -1 in the final report
  int FrameNumber = 0;         // -1 when no video stream was reported
  int FPS = 0;                 // -1 when no video
  float Quality = 0.0f;        // -1 when none
  float BitRate = 0.0f;        // kbit/s; -1 when not computable
  int64_t CurrentSize = 0;     // bytes written to the first output
  int64_t CurrentDuration = 0; // output time
  int64_t TotalDuration = 0;   // negative: no expected length
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
  int TaskIndex = 0;  // -1 for the final notice after all tasks
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};

struct TPreviewInfo {
  int TaskIndex = 0;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;
};
using PPreviewInfo = TPreviewInfo*;

struct THookInfo {
  int TaskIndex = 0;
  TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;
  bool Update = true;
  bool StopHook = false;
};
using PHookInfo = THookInfo*;

struct TFrameHookInfo {
  int TaskIndex = 0;
  int FrameNumber = 0;
  TAVPicture* Picture = nullptr;
  int PixFmt = 0;
  int Width = 0;
  int Height = 0;
  int64_t PTS = 0;
};
using PFrameHookInfo = TFrameHookInfo*;

}  // namespace vexa
