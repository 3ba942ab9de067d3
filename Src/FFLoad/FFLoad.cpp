#include "FFLoad/FFLoad.h"

#include <dlfcn.h>
#include <gnu/lib-names.h>

#include <stdexcept>

#include "Base/FFmpegException.h"
#include "ErrorText/ErrorText.h"
#include "FFLoad/UnicodeProtocol.h"
#include "FFLog/FFLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vexa {
namespace {

void RegisterDevices() { avdevice_register_all(); }

void InitNetwork() {
  const int ret = avformat_network_init();
  if (ret < 0) throw FFmpegException(ErrorText("avformat_network_init", ret));
}

void DeinitNetwork() { avformat_network_deinit(); }

int AVCodecMajor() { return static_cast<int>(AV_VERSION_MAJOR(avcodec_version())); }
int AVDeviceMajor() { return static_cast<int>(AV_VERSION_MAJOR(avdevice_version())); }
int AVFilterMajor() { return static_cast<int>(AV_VERSION_MAJOR(avfilter_version())); }
int AVFormatMajor() { return static_cast<int>(AV_VERSION_MAJOR(avformat_version())); }
int AVUtilMajor() { return static_cast<int>(AV_VERSION_MAJOR(avutil_version())); }
int SwResampleMajor() { return static_cast<int>(AV_VERSION_MAJOR(swresample_version())); }
int SwScaleMajor() { return static_cast<int>(AV_VERSION_MAJOR(swscale_version())); }

const TLibraryItem Libraries[LibraryCount] = {
    {libAVCodec, "avcodec", false, LIBAVCODEC_VERSION_MAJOR, nullptr, nullptr, AVCodecMajor},
    {libAVDevice, "avdevice", false, LIBAVDEVICE_VERSION_MAJOR, RegisterDevices, nullptr,
     AVDeviceMajor},
    {libAVFilter, "avfilter", false, LIBAVFILTER_VERSION_MAJOR, nullptr, nullptr, AVFilterMajor},
    {libAVFormat, "avformat", false, LIBAVFORMAT_VERSION_MAJOR, InitNetwork, DeinitNetwork,
     AVFormatMajor},
    {libAVUtil, "avutil", false, LIBAVUTIL_VERSION_MAJOR, nullptr, nullptr, AVUtilMajor},
    {libSwResample, "swresample", false, LIBSWRESAMPLE_VERSION_MAJOR, nullptr, nullptr,
     SwResampleMajor},
    {libSwScale, "swscale", false, LIBSWSCALE_VERSION_MAJOR, nullptr, nullptr, SwScaleMajor},
    {libMSVCRT, "msvcrt", true, -1, nullptr, nullptr, nullptr},
};

void CheckIndex(int Lib) {
  if (Lib < 0 || Lib >= LibraryCount) {
    throw std::out_of_range("library index " + std::to_string(Lib) + " out of range");
  }
}

void CheckNotEmpty(TLibrarySet Libs, const char* operation) {
  if (Libs.Empty()) throw std::invalid_argument(std::string(operation) + ": empty library set");
}

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

}  // namespace

const TLibraryItem& LibraryItem(int Lib) {
  CheckIndex(Lib);
  return Libraries[Lib];
}

TFFLoader::TFFLoader() {
  for (int i = 0; i < LibraryCount; ++i) Status_[i].Lib = i;
}

TFFLoader::~TFFLoader() { Shutdown(); }

std::string TFFLoader::LibraryPath() const {
  std::lock_guard<std::mutex> lock(Mutex_);
  return LibraryPath_;
}

void TFFLoader::SetLibraryPath(const std::string& value) {
  std::lock_guard<std::mutex> lock(Mutex_);
  LibraryPath_ = value;
}

std::string TFFLoader::LastErrMsg() const {
  std::lock_guard<std::mutex> lock(Mutex_);
  return LastErrMsg_;
}

std::string TFFLoader::LibFileName(int Lib) {
  const TLibraryItem& item = LibraryItem(Lib);
  if (item.Lib == libMSVCRT) return LIBC_SO;
  std::string name = std::string("lib") + item.Name + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

void TFFLoader::SetVersionQuery(TVersionQuery query) {
  std::lock_guard<std::mutex> lock(Mutex_);
  VersionQuery_ = std::move(query);
}

int TFFLoader::RuntimeVersion(int Lib) const {
  if (VersionQuery_) return VersionQuery_(Lib);
  return Libraries[Lib].RuntimeVersion();
}

bool TFFLoader::LoadLibs(TLibrarySet Libs) {
  CheckNotEmpty(Libs, "LoadLibs");
  std::lock_guard<std::mutex> lock(Mutex_);
  for (int i = 0; i < LibraryCount; ++i) {
    if (!Libs.Contains(i)) continue;
    if (!LoadLibLocked(i)) {
      for (int j = 0; j < LibraryCount; ++j) {
        if (Libs.Contains(j)) UnloadLibLocked(j);
      }
      return false;
    }
  }
  return true;
}

bool TFFLoader::Loaded(TLibrarySet Libs) const {
  CheckNotEmpty(Libs, "Loaded");
  std::lock_guard<std::mutex> lock(Mutex_);
  for (int i = 0; i < LibraryCount; ++i) {
    if (Libs.Contains(i) && !(Status_[i].Handle && Status_[i].Loaded)) return false;
  }
  return true;
}

void TFFLoader::CheckLibs(TLibrarySet Libs) const {
  std::lock_guard<std::mutex> lock(Mutex_);
  for (int i = 0; i < LibraryCount; ++i) {
    if (Libs.Contains(i) && !(Status_[i].Handle && Status_[i].Loaded)) {
      throw FFmpegException(std::string("Library ") + Libraries[i].Name + " not loaded.");
    }
  }
}

void TFFLoader::UnloadLibs(TLibrarySet Libs) {
  CheckNotEmpty(Libs, "UnloadLibs");
  std::lock_guard<std::mutex> lock(Mutex_);
  for (int i = 0; i < LibraryCount; ++i) {
    if (Libs.Contains(i)) UnloadLibLocked(i);
  }
}

bool TFFLoader::LoadLib(int Lib) {
  CheckIndex(Lib);
  std::lock_guard<std::mutex> lock(Mutex_);
  return LoadLibLocked(Lib);
}

void TFFLoader::UnloadLib(int Lib) {
  CheckIndex(Lib);
  std::lock_guard<std::mutex> lock(Mutex_);
  UnloadLibLocked(Lib);
}

bool TFFLoader::IsLoaded(int Lib) const {
  CheckIndex(Lib);
  std::lock_guard<std::mutex> lock(Mutex_);
  return Status_[Lib].Handle && Status_[Lib].Loaded;
}

TLibraryStatus TFFLoader::Status(int Lib) const {
  CheckIndex(Lib);
  std::lock_guard<std::mutex> lock(Mutex_);
  return Status_[Lib];
}

bool TFFLoader::LoadLibLocked(int Lib) {
  const TLibraryItem& item = Libraries[Lib];
  TLibraryStatus& status = Status_[Lib];
  const std::string fileName = LibFileName(Lib);

  if (!status.Handle) {
    // Linked directly: the shared object is already mapped; take a reference
    // to it without loading anything new.
    dlerror();
    status.Handle = dlopen(fileName.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!status.Handle) {
      LastErrMsg_ = "Load library " + fileName + " error: " + DlError();
      return false;
    }
  }

  if (!status.Loaded) {
    try {
      if (item.Version >= 0) {
        const int runtime = RuntimeVersion(Lib);
        if (runtime != item.Version) {
          throw FFmpegException("Load library " + fileName + " error: run-time major version " +
                                std::to_string(runtime) + " differs from build version " +
                                std::to_string(item.Version));
        }
      }
      if (item.LoadProc) item.LoadProc();
      status.Loaded = true;
    } catch (const std::exception& e) {
      LastErrMsg_ = e.what();
    }
  }

  if (!status.Loaded) {
    UnloadLibLocked(Lib);
    return false;
  }

  // Post-bind work, also when the row was bound by an earlier call.
  if (Lib == libAVUtil) HookMediaLog();
  if (Lib == libAVFormat) RegisterUnicodeProtocol();
  return true;
}

void TFFLoader::UnloadLibLocked(int Lib) {
  const TLibraryItem& item = Libraries[Lib];
  TLibraryStatus& status = Status_[Lib];
  if (status.Loaded) {
    if (Lib == libAVUtil) UnhookMediaLog();
    if (item.UnloadProc) item.UnloadProc();
    status.Loaded = false;
  }
  if (status.Handle) {
    dlclose(status.Handle);
    status.Handle = nullptr;
  }
}

void TFFLoader::Shutdown() {
  std::lock_guard<std::mutex> lock(Mutex_);
  for (int i = 0; i < LibraryCount; ++i) UnloadLibLocked(i);
  LastErrMsg_.clear();
  LibraryPath_.clear();
}

// Never destroyed: a task thread may still ask for the libraries (CheckLibs
// in its clean-up) while static objects are being destroyed, and the media log
// hook stays in place so that late library messages still reach the logger
// instead of the console. A program that wants the rows unloaded at its end
// calls Shutdown itself.
TFFLoader& FFLoader() {
  static TFFLoader* const loader = new TFFLoader;
  return *loader;
}

}  // namespace vexa
