// A private temporary folder, removed with its contents at the end.
#pragma once

#include <filesystem>
#include <string>

namespace vexa::test {

class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexa-ffutils-XXXXXX").string();
    if (mkdtemp(pattern.data())) Path_ = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path_.empty()) std::filesystem::remove_all(Path_, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  bool Valid() const { return !Path_.empty(); }
  std::string File(const std::string& name) const { return (Path_ / name).string(); }
  const std::filesystem::path& Path() const { return Path_; }

 private:
  std::filesystem::path Path_;
};

}  // namespace vexa::test
