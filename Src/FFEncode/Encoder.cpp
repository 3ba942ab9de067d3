// The encoder component's task operations.
#include <cctype>
#include <exception>

#include "Base/FFmpegException.h"
#include "Base/MainThread.h"
#include "FFEncode/DoTerminateThread.h"
#include "FFEncode/FFEncode.h"
#include "FFLoad/FFLoad.h"

namespace vexa {

namespace {

bool SameCharIgnoringCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Replaces every non-overlapping occurrence of `from`, ignoring case, left to right.
std::string ReplaceAllIgnoringCase(const std::string& text, const std::string& from, const std::string& to) {
  std::string result;
  size_t i = 0;
  while (i < text.size()) {
    bool match = i + from.size() <= text.size();
    for (size_t j = 0; match && j < from.size(); ++j) match = SameCharIgnoringCase(text[i + j], from[j]);
    if (match) {
      result += to;
      i += from.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

// Removes blanks and control characters at both ends.
std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

// Runs `open` with a fresh file option set of `task`, freed afterwards
// whatever happens.
template <typename F>
int WithFileOptions(TFFmpeg& task, F&& open) {
  TFileOptions options;
  task.InitFileOptions(options);
  try {
    const int result = open(options);
    task.FreeFileOptions(options);
    return result;
  } catch (...) {
    task.FreeFileOptions(options);
    throw;
  }
}

}  // namespace

TCustomEncoder::TCustomEncoder() : Decoder_(std::make_unique<TFFDecoder>()) {}

TCustomEncoder::~TCustomEncoder() {
  Shutdown();
  Decoder_.reset();
}

void TCustomEncoder::Shutdown() {
  Destroying_ = true;
  SetOnProgress(nullptr);
  SetOnTerminate(nullptr);
  SetOnPreviewBitmap(nullptr);
  SetOnBeforeFindStreamInfo(nullptr);
  SetOnVideoInputHook(nullptr);
  SetOnVideoOutputHook(nullptr);
  SetOnFrameInputHook(nullptr);
  SetOnFrameOutputHook(nullptr);
  SetOnAudioInputHook(nullptr);
  SetOnAudioOutputHook(nullptr);
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    Remaining_ = 0;
  }
  // Each task stops and waits for its run as it is destroyed.
  Tasks_.Clear();
  Retired_.clear();
  ReapDeliveries(true);
}

bool TCustomEncoder::LibrariesLoaded() const { return FFLoader().Loaded(EncoderLibs); }

bool TCustomEncoder::LoadLibraries(const std::string& APath) {
  FFLoader().SetLibraryPath(APath);
  const bool loaded = FFLoader().LoadLibs(EncoderLibs);
  if (!loaded) LastErrMsg_ = FFLoader().LastErrMsg();
  return loaded;
}

void TCustomEncoder::CheckNotWorking(const char* AOperation) const {
  if (Working_) throw FFmpegException(std::string("Cannot ") + AOperation + " while working.");
}

int TCustomEncoder::FinishedCount() const {
  std::lock_guard<std::mutex> guard(StateLock_);
  return FinishedCount_;
}

int TCustomEncoder::NextIndex() const {
  std::lock_guard<std::mutex> guard(StateLock_);
  return NextIndex_;
}

int TCustomEncoder::Remaining() const {
  std::lock_guard<std::mutex> guard(StateLock_);
  return Remaining_;
}

void TCustomEncoder::ClearTasks() {
  if (Working_ && !AllDone_) throw FFmpegException("Cannot ClearTasks while working.");
  if (InlineDepth_ > 0) {
    // Called from a handler inside an inline run: the running task is still
    // on the stack, so the tasks are freed when the run has returned.
    while (Tasks_.Count() > 0) Retired_.push_back(Tasks_.Take(0));
  } else {
    Tasks_.Clear();
  }
  ReapDeliveries(false);
  LastErrMsg_.clear();
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    FinishedCount_ = 0;
    NextIndex_ = -1;
    Remaining_ = 0;
  }
  AllDone_ = false;
  Threaded_ = false;
  Working_ = false;
  Paused_ = false;
}

void TCustomEncoder::ApplySettings(TFFmpeg& ATask) const {
  ATask.LastErrorText.clear();
  ATask.StrictOptions = StrictOptions_;
  ATask.ReadTimeout = ReadTimeout();
  ATask.WriteTimeout = WriteTimeout();
}

int TCustomEncoder::AddTask(const std::string& AFileName, PInputOptions AOptions) {
  CheckNotWorking("AddTask");
  try {
    auto task = std::make_unique<TFFmpeg>(this);
    task->BuildOptionTable();
    task->OnBeforeFindStreamInfo = [this](TCustomFFmpegOpt* ATask, AVFormatContext* AContext) {
      DoBeforeFindStreamInfo(ATask, AContext);
    };
    task->PreviewBitmap = [this](TCustomFFmpeg* ATask, TBitmap* ABitmap, int64_t APTS, int AFrameNumber) {
      DoPreviewBitmap(ATask, ABitmap, APTS, AFrameNumber);
    };
    task->SetPreviewFlags((Preview_ ? pfPreviewWindow : 0) | (PreviewBitmap_ ? pfPreviewBitmap : 0));
    ApplySettings(*task);

    const int index = static_cast<int>(task->InputFiles.size());
    std::string line;
    std::string presets;
    if (AOptions) {
      if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
      task->SetInputOptions(index, AOptions);
      line = AOptions->FileOptions;
      presets = AOptions->Presets;
    } else {
      task->SetInputOptions(index, nullptr);
    }

    const int result = WithFileOptions(
        *task, [&](TFileOptions& options) { return task->OpenInputFile(options, line, AFileName, presets); });
    if (result < 0) {
      LastErrMsg_ = task->LastErrorText;
      return result;
    }

    task->BindDecoder(result);
    task->Progress = [this](TCustomFFmpeg* ATask, int AFileIndex, int AFrameNumber, int AFPS, float AQuality,
                            float ABitRate, int64_t ACurrentSize, int64_t ACurrentDuration, int64_t ATotalDuration) {
      DoProgress(ATask, AFileIndex, AFrameNumber, AFPS, AQuality, ABitRate, ACurrentSize, ACurrentDuration,
                 ATotalDuration);
    };
    task->Terminate = [this](TCustomFFmpeg* ATask) { DoTerminate(ATask); };
    return Tasks_.Add(std::move(task));
  } catch (const std::exception& e) {
    LastErrMsg_ = e.what();
    return -1;
  }
}

std::string TCustomEncoder::RewriteHookOptions(const std::string& ALine) {
  static const char* const names[][2] = {
      {" -audioinputhook ", " -AudioInputHook "},   {" -audiooutputhook ", " -AudioOutputHook "},
      {" -videoinputhook ", " -VideoInputHook "},   {" -videooutputhook ", " -VideoOutputHook "},
      {" -frameinputhook ", " -FrameInputHook "},   {" -frameoutputhook ", " -FrameOutputHook "},
      {" -join ", " -Join "},
  };
  std::string line = " " + ALine + " ";
  for (const auto& name : names) line = ReplaceAllIgnoringCase(line, name[0], name[1]);
  return Trim(line);
}

int TCustomEncoder::SetOutput(int ATaskIndex, const std::string& AFileName, POutputOptions AOptions) {
  CheckNotWorking("SetOutput");
  TFFmpeg* task = Tasks_.Items(ATaskIndex);
  if (!task) {
    LastErrMsg_ = "Invalid task index " + std::to_string(ATaskIndex);
    return -1;
  }
  ApplySettings(*task);

  const int index = static_cast<int>(task->OutputFiles.size());
  std::string line;
  std::string presets;
  bool join = false;
  if (AOptions) {
    if (AOptions->FileName.empty()) AOptions->FileName = AFileName;
    task->SetOutputOptions(index, AOptions);
    // Hook slots connected once stay connected for later outputs.
    if (AOptions->AudioInputHook)
      task->AudioInputHook = [this](TCustomFFmpeg* ATask, uint8_t* ASample, int64_t APTS, int ASize,
                                    int ASampleRate, int AChannels, AVSampleFormat AFormat) {
        DoAudioHook(GetHandler(OnAudioInputHook_), ATask, ASample, APTS, ASize, ASampleRate, AChannels, AFormat);
      };
    if (AOptions->AudioOutputHook)
      task->AudioOutputHook = [this](TCustomFFmpeg* ATask, uint8_t* ASample, int64_t APTS, int ASize,
                                     int ASampleRate, int AChannels, AVSampleFormat AFormat) {
        DoAudioHook(GetHandler(OnAudioOutputHook_), ATask, ASample, APTS, ASize, ASampleRate, AChannels, AFormat);
      };
    if (AOptions->VideoInputHook)
      task->VideoInputHook = [this](TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                                    int64_t APTS, int AFrameNumber) {
        DoVideoInputHook(ATask, ABitmap, AStopHook, AUpdate, APTS, AFrameNumber);
      };
    if (AOptions->VideoOutputHook)
      task->VideoOutputHook = [this](TCustomFFmpeg* ATask, TBitmap* ABitmap, bool& AStopHook, bool& AUpdate,
                                     int64_t APTS, int AFrameNumber) {
        DoVideoOutputHook(ATask, ABitmap, AStopHook, AUpdate, APTS, AFrameNumber);
      };
    if (AOptions->FrameInputHook)
      task->FrameInputHook = [this](TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight,
                                    int AWidth, int AFrameNumber, int APixFmt) {
        DoFrameInputHook(ATask, APicture, APTS, AHeight, AWidth, AFrameNumber, APixFmt);
      };
    if (AOptions->FrameOutputHook)
      task->FrameOutputHook = [this](TCustomFFmpeg* ATask, TAVPicture* APicture, int64_t APTS, int AHeight,
                                     int AWidth, int AFrameNumber, int APixFmt) {
        DoFrameOutputHook(ATask, APicture, APTS, AHeight, AWidth, AFrameNumber, APixFmt);
      };
    task->SetHookBitsPixel(AOptions->VideoHookBitsPixel);
    line = AOptions->FileOptions;
    presets = AOptions->Presets;
    join = AOptions->Join;
  } else {
    task->SetOutputOptions(index, nullptr);
  }
  line = RewriteHookOptions(line);

  try {
    const int result = WithFileOptions(*task, [&](TFileOptions& options) {
      return task->OpenOutputFile(options, line, join, AFileName, presets);
    });
    if (result < 0) {
      LastErrMsg_ = task->LastErrorText;
      task->SetOutputOptions(index, nullptr);
    }
    return result;
  } catch (const std::exception& e) {
    const std::string message = e.what();
    // A fatal error keeps its text in LastErrorText too; it is said once.
    if (task->LastErrorText.empty() || task->LastErrorText == message)
      LastErrMsg_ = message;
    else
      LastErrMsg_ = task->LastErrorText + "\r\n" + message;
    task->SetOutputOptions(index, nullptr);
    return -1;
  }
}

void TCustomEncoder::RemoveTask(int ATaskIndex) {
  CheckNotWorking("RemoveTask");
  Tasks_.Delete(ATaskIndex);
}

void TCustomEncoder::StartTask(int AThreadCount) {
  CheckNotWorking("StartTask");
  ReapDeliveries(false);
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    FinishedCount_ = 0;
    NextIndex_ = 0;
    Remaining_ = Tasks_.Count();
  }
  AllDone_ = false;
  Threaded_ = AThreadCount > 0;
  Working_ = true;
  Paused_ = false;
  // Nothing to run: the final notice comes at once, so that the component
  // does not stay working for ever.
  if (Tasks_.Count() == 0) {
    GiveFinalNotice();
    return;
  }
  while (Remaining() > 0) {
    StartNextTask();
    if (Threaded_ && --AThreadCount == 0) break;
  }
  if (InlineDepth_ == 0) Retired_.clear();
}

void TCustomEncoder::StartNextTask() {
  int index;
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    if (Remaining_ <= 0) return;
    --Remaining_;
    // Taken before the start: a refused start ends within Start and may
    // start the next task from there.
    index = NextIndex_++;
  }
  TFFmpeg* task = Tasks_.Items(index);
  if (!task) return;
  task->ProgressInterval = static_cast<int64_t>(ProgressInterval_) * 1000;
  if (Threaded_) {
    if (TConvertThread* thread = task->Start(true, ThreadPriority_)) thread->Resume();
  } else {
    ++InlineDepth_;
    task->Start(false, ThreadPriority_);
    --InlineDepth_;
  }
}

void TCustomEncoder::Pause() {
  if (Working_ && !Paused_) {
    Tasks_.PauseAll();
    Paused_ = true;
  }
}

void TCustomEncoder::Resume() {
  if (Working_ && Paused_) {
    Tasks_.ResumeAll();
    Paused_ = false;
  }
}

void TCustomEncoder::Stop(bool AWait) {
  {
    std::lock_guard<std::mutex> guard(StateLock_);
    Remaining_ = 0;
  }
  if (Working_) Tasks_.StopAll(AWait && !InSynchronizedHandler());
}

void TCustomEncoder::SetPreview(bool AValue) {
  Preview_ = AValue;
  Tasks_.SetPreview(AValue);
}

void TCustomEncoder::SetPreviewBitmap(bool AValue) {
  PreviewBitmap_ = AValue;
  Tasks_.SetPreviewBitmap(AValue);
}

}  // namespace vexa
