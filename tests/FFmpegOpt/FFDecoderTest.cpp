// TFFDecoder bound to inputs opened by OpenInputFile.
#include <gtest/gtest.h>

#include "FFmpegOpt/FFDecoder.h"
#include "OptFixtures.h"
#include "Support/MediaFixtures.h"
#include "Support/TestProgramFormat.h"

namespace vexa::test {
namespace {

TEST(FFDecoderTest, DescribesTheBoundInput) {
  TTempDir dir;
  TMediaSpec layout = ChaptersSpec();
  const std::string path = WriteMediaFile(dir.Path("in.mkv"), layout);
  TTestEngine engine;
  TFileOptions o;
  engine.InitFileOptions(o);
  ASSERT_EQ(engine.OpenInputFile(o, "", path), 0) << engine.LastErrorText;
  engine.FreeFileOptions(o);

  TFFDecoder decoder;
  EXPECT_FALSE(decoder.Bound());
  EXPECT_EQ(decoder.StreamCount(), 0);
  EXPECT_EQ(decoder.Duration(), -1);
  decoder.Bind(engine.InputFiles[0]->FormatContext);
  ASSERT_TRUE(decoder.Bound());
  EXPECT_EQ(decoder.FileName(), path);
  EXPECT_EQ(decoder.FormatName(), "matroska,webm");
  EXPECT_NEAR(decoder.Duration(), 2000000, 100000);
  EXPECT_EQ(decoder.Metadata("title"), "Fixture Title");
  EXPECT_EQ(decoder.Metadata("missing"), "");
  ASSERT_EQ(decoder.StreamCount(), 2);
  const TStreamDescription v = decoder.Stream(0);
  EXPECT_EQ(v.MediaType, AVMEDIA_TYPE_VIDEO);
  EXPECT_EQ(v.CodecName, "mpeg4");
  EXPECT_EQ(v.Width, 320);
  EXPECT_EQ(v.Height, 240);
  const TStreamDescription a = decoder.Stream(1);
  EXPECT_EQ(a.MediaType, AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(a.SampleRate, 44100);
  EXPECT_EQ(a.Channels, 2);
  EXPECT_EQ(decoder.Stream(7).MediaType, AVMEDIA_TYPE_UNKNOWN);
  decoder.Bind(nullptr);
  EXPECT_FALSE(decoder.Bound());
}

TEST(FFDecoderTest, ProgramInputsHaveNoDemuxerName) {
  RegisterTestProgramFormats();
  TTestEngine engine;
  TFileOptions o;
  engine.InitFileOptions(o);
  ASSERT_EQ(engine.OpenInputFile(o, "-f vexatest -s 64x48", "video=0"), 0) << engine.LastErrorText;
  engine.FreeFileOptions(o);
  TFFDecoder decoder;
  decoder.Bind(engine.InputFiles[0]->FormatContext);
  EXPECT_EQ(decoder.FormatName(), "");
  EXPECT_EQ(decoder.FileName(), "video=0");
  EXPECT_EQ(decoder.Duration(), -1);  // a live input has no length
  EXPECT_EQ(decoder.StartTime(), -1);
  EXPECT_EQ(decoder.Stream(0).Width, 64);
}

}  // namespace
}  // namespace vexa::test
