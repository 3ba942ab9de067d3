// Preset texts handed over with a line, and preset files (-vpre and kin).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "ErrorText/ErrorText.h"
#include "OptFixtures.h"
#include "Support/MediaFixtures.h"

namespace vexa {
namespace {

using test::OptTest;

class PresetsTest : public OptTest {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = Dir.Path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  int Presets(const std::string& text, const std::string& line = "") {
    return Engine.ParseOptions(O, line, "output file", text);
  }

  test::TTempDir Dir;
};

TEST_F(PresetsTest, MarkerSeparatesEntries) {
  ASSERT_EQ(Presets("vcodec=mpeg4<CRLF>b=1000k"), 0) << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 1u);
  EXPECT_EQ(O.CodecNames[0].Specifier, "v");
  EXPECT_EQ(O.CodecNames[0].Str, "mpeg4");
  EXPECT_STREQ(CodecOption("b"), "1000k");
  EXPECT_TRUE(Recorder.Contains(llInfo, "ParsePresets for output file:\r\nvcodec=mpeg4<CRLF>b=1000k"));
  EXPECT_TRUE(Recorder.Contains(llDebug, "Applying preset b with argument 1000k."));
}

TEST_F(PresetsTest, LineBreaksCommentsBlanksAndCodecKeys) {
  ASSERT_EQ(Presets("  # comment\r\nACodec=mp2 \r\n\r\n\tscodec=mov_text\rdcodec=copy\n g=12 \n"), 0)
      << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 3u);
  EXPECT_EQ(O.CodecNames[0].Specifier, "a");
  EXPECT_EQ(O.CodecNames[0].Str, "mp2");
  EXPECT_EQ(O.CodecNames[1].Specifier, "s");
  EXPECT_EQ(O.CodecNames[2].Specifier, "d");
  EXPECT_STREQ(CodecOption("g"), "12");
}

TEST_F(PresetsTest, AppliedAfterGlobalAndBeforeFileOptions) {
  ASSERT_EQ(Presets("b=500k", "-c:v mpeg4 -b:v 900k"), 0);
  EXPECT_STREQ(CodecOption("b"), "500k");
  EXPECT_STREQ(CodecOption("b:v"), "900k");
}

TEST_F(PresetsTest, FormatOptionsAreCarriedOver) {
  ASSERT_EQ(Presets("movflags=+faststart"), 0) << Engine.LastErrorText;
  EXPECT_STREQ(FormatOption("movflags"), "+faststart");
}

TEST_F(PresetsTest, LaterHandlersDoNotReapplyPresetOptions) {
  // -channel_layout offers a media-library option of its own after -target
  // has set g; the preset's g must not come back with it.
  ASSERT_EQ(Presets("g=12", "-target pal-dvd -channel_layout stereo"), 0) << Engine.LastErrorText;
  EXPECT_STREQ(CodecOption("g"), "15");
  EXPECT_STREQ(CodecOption("channel_layout"), "3");
}

TEST_F(PresetsTest, FlagsOptionsAppendToTheLine) {
  ASSERT_EQ(Presets("flags=+bitexact", "-flags +gray"), 0) << Engine.LastErrorText;
  EXPECT_STREQ(CodecOption("flags"), "+gray+bitexact");
}

TEST_F(PresetsTest, InvalidSyntax) {
  for (const std::string bad : {"novalue", "=value", "key="}) {
    SCOPED_TRACE(bad);
    Engine.InitFileOptions(O);
    Engine.StrictOptions = true;
    EXPECT_EQ(Presets("vcodec=mpeg4\n" + bad + "\nacodec=mp2"), AVERROR(EINVAL));
    EXPECT_EQ(Engine.LastErrorText, "Invalid syntax: \"" + bad + "\"\r\n" + ErrorText(AVERROR(EINVAL)));
    EXPECT_EQ(O.CodecNames.size(), 1u);  // stopped at the bad line
  }
}

TEST_F(PresetsTest, InvalidSyntaxWithoutStrictGoesOn) {
  Engine.StrictOptions = false;
  EXPECT_EQ(Presets("vcodec=mpeg4<CRLF>novalue<CRLF>acodec=mp2"), 0);
  EXPECT_EQ(O.CodecNames.size(), 2u);
  EXPECT_TRUE(Recorder.Contains(llError, "Invalid syntax: \"novalue\""));
  EXPECT_TRUE(Recorder.Contains(llError, "Invalid option or argument: \"novalue\", parsed as \"novalue\" = \"\""));
}

TEST_F(PresetsTest, UnknownOption) {
  Engine.StrictOptions = true;
  EXPECT_EQ(Presets("nosuchoption=1"), AVERROR_OPTION_NOT_FOUND);
  EXPECT_EQ(Engine.LastErrorText,
            "Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\"\r\n" +
                ErrorText(AVERROR_OPTION_NOT_FOUND));
  Engine.InitFileOptions(O);
  Engine.StrictOptions = false;
  EXPECT_EQ(Presets("nosuchoption=1\nvcodec=h264"), 0);
  EXPECT_EQ(O.CodecNames.size(), 1u);
}

TEST_F(PresetsTest, PresetFile) {
  const std::string path = Write("x264.ffpreset", "vcodec=libx264\n# a comment\nb=1000k\n");
  ASSERT_EQ(Parse("-vpre " + path), 0) << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 1u);
  EXPECT_EQ(O.CodecNames[0].Specifier, "v");
  EXPECT_EQ(O.CodecNames[0].Str, "libx264");
  EXPECT_STREQ(CodecOption("b"), "1000k");
  EXPECT_TRUE(Recorder.Contains(llInfo, "Parse preset file: " + path));
}

TEST_F(PresetsTest, PresetFileWithByteOrderMarks) {
  ASSERT_EQ(Parse("-apre " + Write("utf8.txt", "\xEF\xBB\xBF" "acodec=mp2\r\n")), 0) << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 1u);
  EXPECT_EQ(O.CodecNames[0].Str, "mp2");

  Engine.InitFileOptions(O);
  static const char bytes[] = "\xFF\xFEv\0c\0o\0d\0e\0c\0=\0h\0\xE9\0\n\0";
  const std::string utf16(bytes, sizeof(bytes) - 1);
  ASSERT_EQ(Parse("-fpre " + Write("utf16.txt", utf16)), 0) << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 1u);
  EXPECT_EQ(O.CodecNames[0].Str, "h\xC3\xA9");
}

TEST_F(PresetsTest, PresetFileFailures) {
  Engine.StrictOptions = true;
  const std::string bad = Write("bad.txt", "vcodec=mpeg4\nwhat\n");
  EXPECT_EQ(Parse("-spre " + bad), AVERROR(EINVAL));
  EXPECT_EQ(Engine.LastErrorText.rfind(bad + ": Invalid syntax: \"what\"\r\n", 0), 0u) << Engine.LastErrorText;

  Engine.InitFileOptions(O);
  const std::string unknown = Write("unknown.txt", "nosuchoption=3\n");
  EXPECT_EQ(Parse("-vpre " + unknown), AVERROR_OPTION_NOT_FOUND);
  EXPECT_EQ(Engine.LastErrorText.rfind(
                "unknown.txt: Invalid option or argument: \"nosuchoption=3\", parsed as \"nosuchoption\" = \"3\"\r\n",
                0),
            0u)
      << Engine.LastErrorText;

  Engine.InitFileOptions(O);
  EXPECT_EQ(Parse("-vpre " + Dir.Root()), AVERROR(EINVAL));  // a folder is no preset file
  EXPECT_EQ(Engine.LastErrorText.rfind("Preset file \"" + Dir.Root() + "\" not found\r\n", 0), 0u);
}

TEST_F(PresetsTest, BareNamesAreSearchedInTheUserPresetFolder) {
  const std::string folder = Dir.Path(".vexa-screen-recorder/presets");
  ASSERT_EQ(mkdir(Dir.Path(".vexa-screen-recorder").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  Write(".vexa-screen-recorder/presets/fast-vexa.preset", "vcodec=mpeg4\n");
  const char* oldHome = std::getenv("HOME");
  const std::string saved = oldHome ? oldHome : "";
  setenv("HOME", Dir.Root().c_str(), 1);
  const int ret = Parse("-vpre fast-vexa.preset");
  if (oldHome) setenv("HOME", saved.c_str(), 1);
  ASSERT_EQ(ret, 0) << Engine.LastErrorText;
  ASSERT_EQ(O.CodecNames.size(), 1u);
  EXPECT_EQ(O.CodecNames[0].Str, "mpeg4");
}

}  // namespace
}  // namespace vexa
