// Stream copy: remuxing between Matroska and MP4 keeps every packet, and the
// mapping dump says so.
#include <gtest/gtest.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

class TranscodeCopyTest : public ::testing::Test {
 protected:
  // A Matroska file of MPEG-4 video (25 fps, 2 s) and AAC audio, made by the engine.
  std::string MakeSource() {
    const std::string path = Dir.Path("source.mkv");
    TTestTask task;
    EXPECT_TRUE(task.AddLavfi(320, 240, 25, 2.0, 44100));
    EXPECT_GE(task.AddOutput(path, "-c:v mpeg4 -qscale 4 -c:a aac -b:a 96k"), 0) << task.LastErrorText;
    task.RunInline();
    EXPECT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    return path;
  }
  void Remux(const std::string& in, const std::string& out) {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(in, ""));
    ASSERT_GE(task.AddOutput(out, "-c copy"), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg << "\n" << Log.Text();
    EXPECT_TRUE(task.Finished);
  }
  static void ExpectSameStreams(const TDecodedFile& a, const TDecodedFile& b) {
    ASSERT_EQ(a.Streams.size(), b.Streams.size());
    for (size_t i = 0; i < a.Streams.size(); ++i) {
      const TDecodedStream* sa = a.First(a.Streams[i].Type);
      const TDecodedStream* sb = b.First(a.Streams[i].Type);
      ASSERT_NE(sb, nullptr);
      EXPECT_EQ(sa->Codec, sb->Codec);
      EXPECT_EQ(sa->Frames, sb->Frames) << sa->Codec;
      EXPECT_EQ(sa->Samples, sb->Samples) << sa->Codec;
      EXPECT_EQ(sb->DecodeErrors, 0);
      EXPECT_EQ(sa->Width, sb->Width);
    }
  }

  TTempDir Dir;
  TTranscodeLog Log;
};

TEST_F(TranscodeCopyTest, RemuxesMatroskaToMp4AndBack) {
  const std::string source = MakeSource();
  const std::string mp4 = Dir.Path("copy.mp4");
  const std::string back = Dir.Path("back.mkv");
  Remux(source, mp4);
  EXPECT_TRUE(Log.Contains("  Stream #0:0 -> #0:0 (copy) (Video)"));
  Remux(mp4, back);

  const TDecodedFile a = DecodeFile(source);
  const TDecodedFile b = DecodeFile(mp4);
  const TDecodedFile c = DecodeFile(back);
  EXPECT_EQ(b.Format.rfind("mov", 0), 0u);
  EXPECT_EQ(c.Format, "matroska,webm");
  ExpectSameStreams(a, b);
  ExpectSameStreams(a, c);
  EXPECT_EQ(a.First(AVMEDIA_TYPE_VIDEO)->Frames, 50);
  // Copied video keeps its presentation times.
  const auto& pa = a.First(AVMEDIA_TYPE_VIDEO)->FramePts;
  const auto& pc = c.First(AVMEDIA_TYPE_VIDEO)->FramePts;
  ASSERT_EQ(pa.size(), pc.size());
  for (size_t i = 0; i < pa.size(); ++i) EXPECT_NEAR(pa[i], pc[i], 0.002) << i;
}

TEST_F(TranscodeCopyTest, CopyAndEncodeInOneOutput) {
  const std::string source = MakeSource();
  const std::string out = Dir.Path("mixed.mkv");
  TTestTask task;
  ASSERT_TRUE(task.AddInput(source, ""));
  ASSERT_GE(task.AddOutput(out, "-c:v copy -c:a pcm_s16le"), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  EXPECT_TRUE(Log.Contains("  Stream #0:1 -> #0:1 (aac -> pcm_s16le) (Audio)"));
  const TDecodedFile f = DecodeFile(out);
  ASSERT_NE(f.First(AVMEDIA_TYPE_VIDEO), nullptr);
  ASSERT_NE(f.First(AVMEDIA_TYPE_AUDIO), nullptr);
  EXPECT_EQ(f.First(AVMEDIA_TYPE_VIDEO)->Codec, "mpeg4");
  EXPECT_EQ(f.First(AVMEDIA_TYPE_VIDEO)->Frames, 50);
  EXPECT_EQ(f.First(AVMEDIA_TYPE_AUDIO)->Codec, "pcm_s16le");
  EXPECT_NEAR(f.First(AVMEDIA_TYPE_AUDIO)->Samples / 44100.0, 2.0, 2048.0 / 44100);
}

}  // namespace
}  // namespace vexa::test
