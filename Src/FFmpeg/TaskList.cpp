#include "FFmpeg/TaskList.h"

namespace vexa {

void InitInputOptions(PInputOptions AOptions) {
  if (AOptions) *AOptions = TInputOptions{};
}

void InitOutputOptions(POutputOptions AOptions) {
  if (AOptions) *AOptions = TOutputOptions{};
}

// --- TFFmpeg

TFFmpeg::TFFmpeg(TCustomEncoder* AOwner) : Owner(AOwner) {}

TFFmpeg::~TFFmpeg() {
  // The slots are cleared only once no run can call them any more.
  StopRun(true);
  AudioInputHook = nullptr;
  AudioOutputHook = nullptr;
  VideoInputHook = nullptr;
  VideoOutputHook = nullptr;
  FrameInputHook = nullptr;
  FrameOutputHook = nullptr;
  PreviewBitmap = nullptr;
  Progress = nullptr;
  Terminate = nullptr;
  OnBeforeFindStreamInfo = nullptr;
  Decoders.clear();
  InputOptions.clear();
  OutputOptions.clear();
}

template <typename T>
static void StoreRecord(std::vector<std::unique_ptr<T>>& list, int index, const T* record) {
  if (index < 0) return;
  if (static_cast<size_t>(index) >= list.size()) list.resize(static_cast<size_t>(index) + 1);
  list[static_cast<size_t>(index)] = record ? std::make_unique<T>(*record) : nullptr;
}

void TFFmpeg::SetInputOptions(int AIndex, const TInputOptions* AOptions) {
  StoreRecord(InputOptions, AIndex, AOptions);
}

void TFFmpeg::SetOutputOptions(int AIndex, const TOutputOptions* AOptions) {
  StoreRecord(OutputOptions, AIndex, AOptions);
}

void TFFmpeg::BindDecoder(int AIndex) {
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= InputFiles.size()) return;
  if (static_cast<size_t>(AIndex) >= Decoders.size()) Decoders.resize(static_cast<size_t>(AIndex) + 1);
  auto decoder = std::make_unique<TFFDecoder>();
  decoder->Bind(InputFiles[static_cast<size_t>(AIndex)]->FormatContext);
  Decoders[static_cast<size_t>(AIndex)] = std::move(decoder);
}

// --- TFFmpegList

TFFmpegList::~TFFmpegList() { Clear(); }

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> ATask) {
  std::lock_guard<std::mutex> guard(Mutex_);
  Items_.push_back(std::move(ATask));
  return static_cast<int>(Items_.size()) - 1;
}

void TFFmpegList::Clear() {
  std::vector<std::unique_ptr<TFFmpeg>> items;
  {
    std::lock_guard<std::mutex> guard(Mutex_);
    items.swap(Items_);
  }
  // Destroyed outside the lock: a task waits for its run, which may ask the
  // list for its index.
  items.clear();
}

void TFFmpegList::Delete(int i) {
  // Destroyed outside the lock, as in Clear.
  std::unique_ptr<TFFmpeg> task = Take(i);
}

std::unique_ptr<TFFmpeg> TFFmpegList::Take(int i) {
  std::lock_guard<std::mutex> guard(Mutex_);
  if (i < 0 || static_cast<size_t>(i) >= Items_.size()) return nullptr;
  std::unique_ptr<TFFmpeg> task = std::move(Items_[static_cast<size_t>(i)]);
  Items_.erase(Items_.begin() + i);
  return task;
}

TFFmpeg* TFFmpegList::Items(int i) const {
  std::lock_guard<std::mutex> guard(Mutex_);
  if (i < 0 || static_cast<size_t>(i) >= Items_.size()) return nullptr;
  return Items_[static_cast<size_t>(i)].get();
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* ATask) const {
  std::lock_guard<std::mutex> guard(Mutex_);
  for (size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i].get() == ATask) return static_cast<int>(i);
  return -1;
}

int TFFmpegList::Count() const {
  std::lock_guard<std::mutex> guard(Mutex_);
  return static_cast<int>(Items_.size());
}

std::vector<TFFmpeg*> TFFmpegList::Snapshot() const {
  std::lock_guard<std::mutex> guard(Mutex_);
  std::vector<TFFmpeg*> tasks;
  for (const auto& task : Items_) tasks.push_back(task.get());
  return tasks;
}

void TFFmpegList::PauseAll() {
  for (TFFmpeg* task : Snapshot()) task->Pause();
}

void TFFmpegList::ResumeAll() {
  for (TFFmpeg* task : Snapshot()) task->Resume();
}

void TFFmpegList::StopAll(bool AWait) {
  for (TFFmpeg* task : Snapshot()) task->Stop(AWait);
}

void TFFmpegList::SetPreview(bool AOn) {
  for (TFFmpeg* task : Snapshot()) task->ChangePreviewFlag(pfPreviewWindow, AOn);
}

void TFFmpegList::SetPreviewBitmap(bool AOn) {
  for (TFFmpeg* task : Snapshot()) task->ChangePreviewFlag(pfPreviewBitmap, AOn);
}

}  // namespace vexa
