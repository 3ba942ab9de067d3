#include "core/FolderMedia.h"

#include <sys/vfs.h>

#include <filesystem>
#include <system_error>

namespace vexa::app {

namespace {

constexpr long kIso9660Magic = 0x9660;
constexpr long kUdfMagic = 0x15013346;

}  // namespace

bool IsOpticalFileSystemType(long fileSystemType) {
  return fileSystemType == kIso9660Magic || fileSystemType == kUdfMagic;
}

bool IsOnOpticalDisc(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return false;
  std::error_code error;
  fs::path probe = fs::absolute(path, error);
  if (error) return false;
  while (!fs::exists(probe, error) && probe.has_parent_path() && probe != probe.parent_path())
    probe = probe.parent_path();
  struct statfs info {};
  if (statfs(probe.c_str(), &info) != 0) return false;
  return IsOpticalFileSystemType(static_cast<long>(info.f_type));
}

}  // namespace vexa::app
