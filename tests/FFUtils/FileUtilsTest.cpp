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

}  // namespace
}  // namespace vexa
