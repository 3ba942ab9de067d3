#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "FFUtils/FFUtils.h"
#include "Support/LogRecorder.h"
#include "Support/MediaFixtures.h"

namespace vexa {
namespace {

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

class FileUtilsTest : public ::testing::Test {
 protected:
  test::TTempDir Dir;
};

TEST_F(FileUtilsTest, ReadsTheWholeFileWithATerminatingZero) {
  const std::string content("preset\0line=1\n", 14);
  const std::string path = Dir.Path("a file.ffpreset");
  WriteFile(path, content);
  std::vector<uint8_t> buffer{9, 9};
  ASSERT_EQ(0, ReadFileToBuffer(path, buffer));
  ASSERT_EQ(content.size() + 1, buffer.size());
  EXPECT_EQ(content, std::string(buffer.begin(), buffer.end() - 1));
  EXPECT_EQ(0, buffer.back());
}

TEST_F(FileUtilsTest, EmptyFileGivesTheZeroByteOnly) {
  const std::string path = Dir.Path("empty");
  WriteFile(path, "");
  std::vector<uint8_t> buffer;
  ASSERT_EQ(0, ReadFileToBuffer(path, buffer));
  EXPECT_EQ(std::vector<uint8_t>{0}, buffer);
}

TEST_F(FileUtilsTest, LargerFileIsReadCompletely) {
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>('a' + i % 26);
  const std::string path = Dir.Path("big");
  WriteFile(path, content);
  std::vector<uint8_t> buffer;
  ASSERT_EQ(0, ReadFileToBuffer(path, buffer));
  ASSERT_EQ(content.size() + 1, buffer.size());
  EXPECT_EQ(0, content.compare(0, content.size(), reinterpret_cast<const char*>(buffer.data()),
                               content.size()));
}

TEST_F(FileUtilsTest, UnreadableNamesFailWithMinusOneAndTheMessage) {
  const std::string missing = Dir.Path("missing.txt");
  const std::string folder = Dir.Root();
  for (const std::string& name : {missing, folder}) {
    test::TLogRecorder log;
    std::vector<uint8_t> buffer{1};
    EXPECT_EQ(-1, ReadFileToBuffer(name, buffer)) << name;
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(1, log.Count(llError, "Cannot read file \"" + name + "\"")) << name;
  }
}

TEST_F(FileUtilsTest, FileSizeOfFilesFoldersAndMissingNames) {
  const std::string path = Dir.Path("three");
  WriteFile(path, "abc");
  EXPECT_EQ(3, FileSize(path));
  const std::string empty = Dir.Path("zero");
  WriteFile(empty, "");
  EXPECT_EQ(0, FileSize(empty));
  EXPECT_EQ(-1, FileSize(Dir.Path("missing")));
  EXPECT_EQ(-1, FileSize(Dir.Root()));
  EXPECT_EQ(-1, FileSize(""));
}

struct LocalPathCase {
  const char* Url;
  const char* Path;
};

class LocalFilePathTest : public ::testing::TestWithParam<LocalPathCase> {};

TEST_P(LocalFilePathTest, OnlyPlainFilesHaveALocalPath) {
  EXPECT_EQ(LocalFilePath(GetParam().Url), GetParam().Path);
}

INSTANTIATE_TEST_SUITE_P(Urls, LocalFilePathTest,
                         ::testing::Values(LocalPathCase{"/tmp/out.mp4", "/tmp/out.mp4"},
                                           LocalPathCase{"file:/tmp/out.mp4", "/tmp/out.mp4"},
                                           LocalPathCase{"out.mkv", "out.mkv"},
                                           LocalPathCase{"dir/a:b.mkv", "dir/a:b.mkv"},
                                           LocalPathCase{"pipe:1", ""}, LocalPathCase{"rtp://127.0.0.1:5004", ""},
                                           LocalPathCase{"", ""}));

TEST_F(FileUtilsTest, OnlyAnEmptyRegularOutputFileIsDeleted) {
  const std::string empty = Dir.Path("empty.mp4");
  const std::string full = Dir.Path("full.mp4");
  WriteFile(empty, "");
  WriteFile(full, "data");
  DeleteEmptyOutputFile(empty.c_str());
  DeleteEmptyOutputFile(("file:" + full).c_str());
  DeleteEmptyOutputFile("/dev/null");
  DeleteEmptyOutputFile(nullptr);
  EXPECT_FALSE(test::FileExists(empty));
  EXPECT_TRUE(test::FileExists(full));
  struct stat st {};
  EXPECT_EQ(stat("/dev/null", &st), 0);
  WriteFile(empty, "");
  DeleteEmptyOutputFile(("file:" + empty).c_str());
  EXPECT_FALSE(test::FileExists(empty));
}

}  // namespace
}  // namespace vexa
