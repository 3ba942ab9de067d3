// The component's tasks: TFFmpeg (a task with its owner, per-input decoders
// and the option records given for its inputs and outputs) and TFFmpegList.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "FFmpeg/FFmpeg.h"
#include "FFmpeg/TaskDecoder.h"
#include "FFmpeg/TaskRecords.h"

namespace vexa {

class TCustomEncoder;

class TFFmpeg : public TCustomFFmpeg {
 public:
  explicit TFFmpeg(TCustomEncoder* AOwner = nullptr);
  // Waits for a run still going, clears the callback slots, frees the
  // decoders and the option records, then destroys the task.
  ~TFFmpeg() override;

  TCustomEncoder* Owner = nullptr;
  // One per input file, bound to its format context.
  std::vector<std::unique_ptr<TFFDecoder>> Decoders;
  // Copies of the records given per input / output; null where the record
  // was cleared (added without options, or the output failed).
  std::vector<std::unique_ptr<TInputOptions>> InputOptions;
  std::vector<std::unique_ptr<TOutputOptions>> OutputOptions;

  // Keeps a copy at `AIndex` (nullptr clears it), growing the array.
  void SetInputOptions(int AIndex, const TInputOptions* AOptions);
  void SetOutputOptions(int AIndex, const TOutputOptions* AOptions);
  // Creates the decoder of input `AIndex` and binds it to that input.
  void BindDecoder(int AIndex);
};

// Owns the tasks, in insertion order.
class TFFmpegList {
 public:
  TFFmpegList() = default;
  ~TFFmpegList();
  TFFmpegList(const TFFmpegList&) = delete;
  TFFmpegList& operator=(const TFFmpegList&) = delete;

  int Add(std::unique_ptr<TFFmpeg> ATask);
  // Frees every task (each waits for its run) and empties the list.
  void Clear();
  // Frees task i and removes it; an index out of range does nothing.
  void Delete(int i);
  // Removes task i and hands it over (nullptr out of range).
  std::unique_ptr<TFFmpeg> Take(int i);
  TFFmpeg* Items(int i) const;  // nullptr out of range
  int IndexOf(const TCustomFFmpeg* ATask) const;
  int Count() const;
  void PauseAll();
  void ResumeAll();
  void StopAll(bool AWait);
  void SetPreview(bool AOn);
  void SetPreviewBitmap(bool AOn);

 private:
  std::vector<TFFmpeg*> Snapshot() const;

  mutable std::mutex Mutex_;
  std::vector<std::unique_ptr<TFFmpeg>> Items_;
};

}  // namespace vexa
