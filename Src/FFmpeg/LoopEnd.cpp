// The end of a run: faults that end it early, the drain of live inputs at a
// stop, the watch over the room left for the outputs, and the checked
// trailers and closes of the output files.
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstring>

#include "Base/ProgramFormats.h"
#include "ErrorText/ErrorText.h"
#include "FFLog/FFLog.h"
#include "FFUtils/FFUtils.h"
#include "FFmpeg/FFmpeg.h"
#include "FFmpegOpt/OptionText.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/time.h>
}

namespace vexa {

namespace {

// How long live inputs may take to hand over what they hold (a slow
// encoder works off the pictures queued before the stop meanwhile).
constexpr int64_t kDrainTime = 10000000;

// What finishing an output may still need: a fixed amount, the trailer
// (an index entry or two per packet written) and the data of a few seconds
// (the inputs' and encoders' queues, the checks' own interval).
constexpr int64_t kRoomCheckInterval = 100000;
constexpr int64_t kBaseReserve = 1 << 20;
constexpr int64_t kTrailerBytesPerPacket = 64;
constexpr double kReserveSeconds = 3.0;

std::string KiB(int64_t bytes) { return StrFormat("%lld KiB", static_cast<long long>(std::max<int64_t>(bytes, 0) / 1024)); }

}  // namespace

void TCustomFFmpeg::NoteRunFault(const std::string& AText) {
  Log(this, llError, AText);
  if (RunFault_.empty())
    RunFault_ = AText;
  else if (RunFault_.find(AText) == std::string::npos)
    RunFault_ += "; " + AText;
}

bool TCustomFFmpeg::BeginDrain() {
  if (Draining_) return true;
  bool any = false;
  for (auto& file : InputFiles) {
    if (!file || file->EofReached || !file->ProgramFormat || !file->ProgramFormat->Finish) continue;
    file->ProgramFormat->Finish(file->FormatContext);
    any = true;
  }
  if (!any) return false;
  Draining_ = true;
  DrainDeadline_ = av_gettime() + kDrainTime;
  Log(this, llVerbose, "Stopping: writing what the live inputs still hold.");
  return true;
}

void TCustomFFmpeg::CheckOutputRoom(int64_t ANow) {
  if (RoomStop_ || ANow < NextRoomCheck_) return;
  NextRoomCheck_ = ANow + kRoomCheckInterval;
  const size_t fileLimit = Joined ? std::min<size_t>(1, OutputFiles.size()) : OutputFiles.size();
  if (RoomWatch_.size() < fileLimit) RoomWatch_.resize(fileLimit);
  rlimit sizeLimit{};
  const bool limited = getrlimit(RLIMIT_FSIZE, &sizeLimit) == 0 && sizeLimit.rlim_cur != RLIM_INFINITY;
  for (size_t i = 0; i < fileLimit; ++i) {
    AVFormatContext* oc = OutputFiles[i]->FormatContext;
    if (!oc || !oc->pb || !oc->oformat || (oc->oformat->flags & AVFMT_NOFILE)) continue;
    const std::string path = LocalFilePath(oc->url);
    if (path.empty()) continue;
    const int64_t written = avio_tell(oc->pb);
    TRoomWatch& watch = RoomWatch_[i];
    if (watch.Time > 0 && ANow > watch.Time) {
      // A moving average over about a second: bursts of a queue being
      // drained do not count as the rate.
      const double seconds = static_cast<double>(ANow - watch.Time) / 1e6;
      const double rate = static_cast<double>(written - watch.Bytes) / seconds;
      watch.Rate += (rate - watch.Rate) * std::min(1.0, seconds);
    }
    watch.Bytes = written;
    watch.Time = ANow;

    struct statvfs vfs {};
    if (statvfs(path.c_str(), &vfs) != 0) continue;
    const int64_t diskRoom = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    const int64_t limitRoom = limited ? static_cast<int64_t>(sizeLimit.rlim_cur) - written : INT64_MAX;
    int64_t packets = 0;
    for (auto& ost : OutputStreams)
      if (ost && ost->FileIndex == static_cast<int>(i)) packets += ost->FrameNumber;
    const int64_t need =
        kBaseReserve + packets * kTrailerBytesPerPacket + static_cast<int64_t>(watch.Rate * kReserveSeconds);
    const int64_t room = std::min(diskRoom, limitRoom);
    if (room >= need) continue;
    RoomStop_ = true;
    if (limitRoom < diskRoom)
      NoteRunFault(StrFormat("Recording stopped: output file \"%s\" is near the file size limit of the process "
                             "(%s left, %s needed to finish the file)",
                             path.c_str(), KiB(limitRoom).c_str(), KiB(need).c_str()));
    else
      NoteRunFault(StrFormat("Recording stopped: the disk of output file \"%s\" is nearly full "
                             "(%s left, %s needed to finish the file)",
                             path.c_str(), KiB(diskRoom).c_str(), KiB(need).c_str()));
    return;
  }
}

void TCustomFFmpeg::WriteTrailers(size_t AFileLimit) {
  TrailerFailed_.assign(AFileLimit, false);
  for (size_t i = 0; i < AFileLimit; ++i) {
    AVFormatContext* oc = OutputFiles[i]->FormatContext;
    LastWriteTime = av_gettime();
    const int ret = av_write_trailer(oc);
    TrailerFailed_[i] = ret < 0;
    if (ret < 0)
      NoteRunFault(ErrorText(StrFormat("Could not write the trailer of output file #%d (%s)", static_cast<int>(i),
                                       oc->url ? oc->url : ""),
                             ret));
  }
}

void TCustomFFmpeg::CloseOutputFiles(size_t AFileLimit) {
  for (size_t i = 0; i < AFileLimit; ++i) {
    AVFormatContext* oc = OutputFiles[i]->FormatContext;
    if (!oc || !oc->pb || !oc->oformat || (oc->oformat->flags & AVFMT_NOFILE)) continue;
    avio_flush(oc->pb);
    int ret = oc->pb->error;
    const int closed = avio_closep(&oc->pb);
    if (ret >= 0) ret = closed;
    // A failed trailer has told of the same error already.
    if (ret < 0 && !(i < TrailerFailed_.size() && TrailerFailed_[i]))
      NoteRunFault(ErrorText(StrFormat("Could not finish writing output file #%d (%s)", static_cast<int>(i),
                                       oc->url ? oc->url : ""),
                             ret));
    DeleteEmptyOutputFile(oc->url);
  }
}

}  // namespace vexa
