// -map and -map_channel against input records made by hand.
#include <gtest/gtest.h>

#include "OptFixtures.h"

namespace vexa {
namespace {

using test::AddInput;
using test::OptTest;

class StreamHandlersTest : public OptTest {
 protected:
  void SetUp() override {
    OptTest::SetUp();
    // Input 0: video, audio (stereo), video. Input 1: audio (mono).
    AddInput(Engine, {{AVMEDIA_TYPE_VIDEO}, {AVMEDIA_TYPE_AUDIO, 2}, {AVMEDIA_TYPE_VIDEO}});
    AddInput(Engine, {{AVMEDIA_TYPE_AUDIO, 1}});
  }

  std::string AbortText(const std::string& line) {
    Engine.InitFileOptions(O);
    try {
      Parse(line);
    } catch (const FFmpegException& e) {
      EXPECT_EQ(Engine.LastErrorText, e.what());
      return e.what();
    }
    return "<no abort>";
  }

  struct TMap {
    int Disabled, File, Stream, SyncFile, SyncStream;
  };
  void ExpectMaps(const std::vector<TMap>& expected) {
    ASSERT_EQ(O.StreamMaps.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      const TStreamMap& m = O.StreamMaps[i];
      EXPECT_EQ(m.Disabled, expected[i].Disabled);
      EXPECT_EQ(m.FileIndex, expected[i].File);
      EXPECT_EQ(m.StreamIndex, expected[i].Stream);
      EXPECT_EQ(m.SyncFileIndex, expected[i].SyncFile);
      EXPECT_EQ(m.SyncStreamIndex, expected[i].SyncStream);
      EXPECT_TRUE(m.LinkLabel.empty());
    }
  }
};

TEST_F(StreamHandlersTest, MapWholeFileAndSpecifiers) {
  ASSERT_EQ(Parse("-map 0"), 0);
  ExpectMaps({{0, 0, 0, 0, 0}, {0, 0, 1, 0, 1}, {0, 0, 2, 0, 2}});
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-map 0:a -map 1"), 0);
  ExpectMaps({{0, 0, 1, 0, 1}, {0, 1, 0, 1, 0}});
}

TEST_F(StreamHandlersTest, NegativeMapDisablesEarlierEntries) {
  ASSERT_EQ(Parse("-map 0:v -map -0:v:1"), 0);
  ExpectMaps({{0, 0, 0, 0, 0}, {1, 0, 2, 0, 2}});
}

TEST_F(StreamHandlersTest, MapWithSyncStream) {
  ASSERT_EQ(Parse("-map 0:v:0,1:a"), 0);
  ExpectMaps({{0, 0, 0, 1, 0}});
  Engine.InitFileOptions(O);
  ASSERT_EQ(Parse("-map 0:1,0:v"), 0);
  ExpectMaps({{0, 0, 1, 0, 0}});
}

TEST_F(StreamHandlersTest, MapLinkLabel) {
  ASSERT_EQ(Parse("-map [out1] -map \"[my label]\""), 0);
  ASSERT_EQ(O.StreamMaps.size(), 2u);
  EXPECT_EQ(O.StreamMaps[0].LinkLabel, "out1");
  EXPECT_EQ(O.StreamMaps[1].LinkLabel, "my label");
  EXPECT_EQ(O.StreamMaps[0].FileIndex, 0);
}

TEST_F(StreamHandlersTest, MapFailures) {
  EXPECT_EQ(AbortText("-map 5"), "Invalid input file index: 5.");
  EXPECT_EQ(AbortText("-map -5"), "Invalid input file index: 5.");
  EXPECT_EQ(AbortText("-map -1"), "Stream map \"-1\" matches no streams.");  // nothing to remove
  EXPECT_EQ(AbortText("-map 1:v"), "Stream map \"1:v\" matches no streams.");
  EXPECT_EQ(AbortText("-map -0:s"), "Stream map \"-0:s\" matches no streams.");
  EXPECT_EQ(AbortText("-map 0,7"), "Invalid sync file index: 7.");
  EXPECT_EQ(AbortText("-map 0,1:v"), "Sync stream spe" "cification in map 0,1:v does not match any streams.");
  EXPECT_EQ(AbortText("-map 0:zz").rfind("check_stream_specifier: ", 0), 0u);
}

TEST_F(StreamHandlersTest, MapChannel) {
  struct TCase {
    const char* Arg;
    TAudioChannelMap Expected;
  };
  const TCase cases[] = {
      {"0.1.0", {0, 1, 0, -1, -1}},
      {"0.1.1:0.3", {0, 1, 1, 0, 3}},
      {"1.0.0", {1, 0, 0, -1, -1}},
      {"-1", {-1, -1, -1, -1, -1}},
      {"-1:0.1", {-1, -1, -1, 0, 1}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Arg);
    Engine.InitFileOptions(O);
    ASSERT_EQ(Parse(std::string("-map_channel ") + c.Arg), 0);
    ASSERT_EQ(O.AudioChannelMaps.size(), 1u);
    const TAudioChannelMap& m = O.AudioChannelMaps[0];
    EXPECT_EQ(m.FileIndex, c.Expected.FileIndex);
    EXPECT_EQ(m.StreamIndex, c.Expected.StreamIndex);
    EXPECT_EQ(m.ChannelIndex, c.Expected.ChannelIndex);
    EXPECT_EQ(m.OutputFileIndex, c.Expected.OutputFileIndex);
    EXPECT_EQ(m.OutputStreamIndex, c.Expected.OutputStreamIndex);
  }
}

TEST_F(StreamHandlersTest, MapChannelFailures) {
  const std::string usage = "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]";
  EXPECT_EQ(AbortText("-map_channel 0.1"), usage);
  EXPECT_EQ(AbortText("-map_channel 0.1.0:1"), usage);
  EXPECT_EQ(AbortText("-map_channel abc"), usage);
  EXPECT_EQ(AbortText("-map_channel 3.0.0"), "mapchan: invalid input file index: 3");
  EXPECT_EQ(AbortText("-map_channel 0.9.0"), "mapchan: invalid input file stream index #0.9");
  EXPECT_EQ(AbortText("-map_channel 0.0.0"), "mapchan: stream #0.0 is not an audio stream.");
  EXPECT_EQ(AbortText("-map_channel 0.1.2"), "mapchan: invalid audio channel #0.1.2");
  EXPECT_EQ(AbortText("-map_channel 1.0.-1"), "mapchan: invalid audio channel #1.0.-1");
}

}  // namespace
}  // namespace vexa
