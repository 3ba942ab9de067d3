// Replays every input of the committed fuzz corpus through the fuzz target's
// entry, so that the sanitizer build of the suite checks them on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "OptionsFuzzInput.h"

namespace vexa {
namespace {

std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(VEXA_FUZZ_CORPUS))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzCorpus, EveryInputEndsInAnAllowedOutcome) {
  const std::vector<std::filesystem::path> files = CorpusFiles();
  ASSERT_GE(files.size(), 10u) << VEXA_FUZZ_CORPUS;
  GetFFLogger().SetLogLevel(llQuiet);
  HookMediaLog();
  int failed = 0;
  int succeeded = 0;
  for (const auto& path : files) {
    SCOPED_TRACE(path.filename().string());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    const fuzz::TFuzzOutcome outcome =
        fuzz::RunOptionsFuzzInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), llQuiet);
    EXPECT_EQ(outcome.BrokenRule, "");
    if (outcome.Raised || outcome.Result < 0)
      ++failed;
    else
      ++succeeded;
  }
  GetFFLogger().SetLogLevel(llInfo);
  // The corpus holds lines that parse and lines that fail.
  EXPECT_GT(failed, 0);
  EXPECT_GT(succeeded, 0);
}

}  // namespace
}  // namespace vexa
