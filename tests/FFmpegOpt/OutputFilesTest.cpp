// OpenOutputFile: muxer choice, stream selection and mapping, limits,
// metadata and chapters, attachments, join groups and failure clean-up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "ErrorText/ErrorText.h"
#include "OutputStreamFixture.h"

namespace vexa::test {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

class OutputFilesTest : public OutputStreamTest {
 protected:
  AVFormatContext* Context(int file = 0) { return Engine.OutputFiles.at(file)->FormatContext; }
  std::vector<int> Sources() const {
    std::vector<int> s;
    for (const auto& ost : Engine.OutputStreams) s.push_back(ost->SourceIndex);
    return s;
  }
  std::vector<int> Types() const {
    std::vector<int> t;
    for (const auto& ost : Engine.OutputStreams) t.push_back(ost->Stream->codecpar->codec_type);
    return t;
  }
  static std::string Meta(AVDictionary* d, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);  // Matroska upper-cases tag names
    return e ? e->value : "<none>";
  }
};

struct TMuxerCase {
  const char* Name;
  const char* Line;
  const char* Muxer;
};

class MuxerChoiceTest : public OutputFilesTest, public ::testing::WithParamInterface<TMuxerCase> {};

TEST_P(MuxerChoiceTest, ExtensionOrFormatOptionChoosesTheMuxer) {
  OpenInput(VideoOnlySpec());
  const TMuxerCase& c = GetParam();
  ASSERT_EQ(OpenOutput(c.Line, c.Name), 0) << Engine.LastErrorText;
  EXPECT_STREQ(Context()->oformat->name, c.Muxer);
}

INSTANTIATE_TEST_SUITE_P(Names, MuxerChoiceTest,
                         ::testing::Values(TMuxerCase{"a.mp4", "", "mp4"}, TMuxerCase{"a.mkv", "", "matroska"},
                                           TMuxerCase{"a.avi", "", "avi"}, TMuxerCase{"a.mp4", "-f webm", "webm"},
                                           TMuxerCase{"a.flv", "-f matroska", "matroska"}));

TEST_F(OutputFilesTest, UnknownExtensionFailsWithTheLibraryText) {
  OpenInput(VideoOnlySpec());
  const std::string name = Dir.Path("a.nosuchext");
  EXPECT_EQ(OpenOutput("", "a.nosuchext"), -1);
  EXPECT_THAT(Engine.LastErrorText, StartsWith(name + ": "));
  EXPECT_GT(Engine.LastErrorText.size(), name.size() + 2);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_FALSE(FileExists(name));
}

TEST_F(OutputFilesTest, AutomaticSelectionTakesTheLargerVideo) {
  OpenInput(TwoVideosSpec(640, 480, 1280, 720));
  ASSERT_EQ(OpenOutput(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(1));
  EXPECT_EQ(Engine.InputStreams[1]->Discard, 0);
  EXPECT_EQ(Engine.InputStreams[1]->Stream->discard, AVDISCARD_NONE);
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 1);
}

TEST_F(OutputFilesTest, AutomaticSelectionKeepsTheFirstOfEqualVideos) {
  OpenInput(TwoVideosSpec(640, 480, 640, 480));
  ASSERT_EQ(OpenOutput(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0));
}

TEST_F(OutputFilesTest, AutomaticSelectionTakesTheAudioWithMostChannels) {
  TMediaSpec layout;
  layout.Audios = {TAudioSpec{44100, 1}, TAudioSpec{44100, 2}, TAudioSpec{44100, 2}};
  OpenInput(layout);
  ASSERT_EQ(OpenOutput(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(1));
}

TEST_F(OutputFilesTest, AttachedPictureDoesNotWinOverARealVideo) {
  OpenInput(AttachedPictureSpec());  // video 320x240, audio, PNG cover 640x480
  ASSERT_TRUE(Engine.InputStreams[2]->Stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
  ASSERT_EQ(OpenOutput(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0, 1));
}

struct TDisableCase {
  const char* Line;
  std::vector<int> Types;
};

class DisableTest : public OutputFilesTest, public ::testing::WithParamInterface<TDisableCase> {};

TEST_P(DisableTest, DisabledTypesAreNotSelected) {
  TMediaSpec layout = VideoAudioSpec();
  layout.Subtitles = 1;
  OpenInput(layout);
  ASSERT_EQ(OpenOutput(GetParam().Line), 0) << Engine.LastErrorText;
  EXPECT_EQ(Types(), GetParam().Types);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DisableTest,
    ::testing::Values(TDisableCase{"", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}},
                      TDisableCase{"-an", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_SUBTITLE}},
                      TDisableCase{"-vn", {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}},
                      TDisableCase{"-sn", {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},
                      TDisableCase{"-an -vn -sn", {}}));

TEST_F(OutputFilesTest, SubtitlesOnlyWhenTheFormatOrTheLineAsksForThem) {
  TMediaSpec layout = VideoAudioSpec();
  layout.Subtitles = 1;
  OpenInput(layout);
  // AVI has no default subtitle codec; naming one on the line selects them.
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -c:a pcm_s16le", "a.avi"), 0) << Engine.LastErrorText;
  EXPECT_THAT(Types(), ElementsAre(AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO));
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -c:a pcm_s16le -c:s copy", "b.avi"), 1) << Engine.LastErrorText;
  EXPECT_EQ(Engine.OutputStreams.back()->Stream->codecpar->codec_type, AVMEDIA_TYPE_SUBTITLE);
}

TEST_F(OutputFilesTest, NegativeMapRemovesEarlierEntries) {
  TMediaSpec layout = TwoVideosSpec(320, 240, 160, 120);
  layout.Audios.push_back(TAudioSpec{});
  OpenInput(layout);  // streams: v, v, a
  ASSERT_EQ(OpenOutput("-map 0:v -map -0:v:1"), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0));
  ASSERT_EQ(O.StreamMaps.size(), 2u);
  EXPECT_EQ(O.StreamMaps[1].Disabled, 1);

  ASSERT_EQ(OpenOutput("-map 0 -map -0:a", "b.mkv"), 1) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0, 0, 1));
}

TEST_F(OutputFilesTest, MapHonoursDisableOptionsAndSyncStreams) {
  OpenInput(VideoAudioSpec());
  OpenInput(VideoAudioSpec());
  ASSERT_EQ(OpenOutput("-map 1:a -map 0:v,1:a -an"), 0) << Engine.LastErrorText;
  ASSERT_THAT(Sources(), ElementsAre(0));
  EXPECT_EQ(Engine.OutputStreams[0]->SyncInput, Engine.InputStreams[3].get());
}

TEST_F(OutputFilesTest, MapOfAFilterLabelBindsTheGraphOutput) {
  OpenInput(VideoOnlySpec());
  ASSERT_EQ(OpenOutput("-filter_complex [0:v]scale=160:120[small] -map [small] -c:v mpeg4"), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.OutputStreams.size(), 1u);
  const TOutputStream& ost = *Engine.OutputStreams[0];
  EXPECT_EQ(ost.SourceIndex, -1);
  ASSERT_NE(ost.Filter, nullptr);
  EXPECT_EQ(ost.Filter->OutputStream, &ost);
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 0);

  // The label is used up now.
  EXPECT_EQ(OpenOutput("-map [small]", "b.mkv"), -1);
  EXPECT_EQ(Engine.LastErrorText,
            "Output with label \"small\" does not exist in any defined filter graph, or was already used elsewhere.");
  EXPECT_FALSE(FileExists(Dir.Path("b.mkv")));
}

TEST_F(OutputFilesTest, UnlabeledGraphOutputTakesThePlaceOfTheAutomaticVideo) {
  TMediaSpec layout = TwoVideosSpec(160, 120, 320, 240);
  layout.Audios.push_back(TAudioSpec{});
  OpenInput(layout);
  ASSERT_EQ(OpenOutput("-filter_complex [0:v:0]scale=96:64 -c:v mpeg4"), 0) << Engine.LastErrorText;
  // The graph output is the only video; audio is still selected automatically.
  EXPECT_THAT(Types(), ElementsAre(AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO));
  EXPECT_THAT(Sources(), ElementsAre(-1, 2));
  EXPECT_NE(Engine.OutputStreams[0]->Filter, nullptr);
  EXPECT_EQ(O.VideoDisable, 1);
}

struct TLimitCase {
  const char* Line;
  int64_t RecordingTime;
  const char* Warning;  // "" for none
};

class TimeLimitTest : public OutputFilesTest, public ::testing::WithParamInterface<TLimitCase> {};

TEST_P(TimeLimitTest, DurationFollowsTAndToRules) {
  OpenInput(VideoOnlySpec());
  const TLimitCase& c = GetParam();
  ASSERT_EQ(OpenOutput(c.Line), 0) << Engine.LastErrorText;
  EXPECT_EQ(Engine.OutputFiles[0]->RecordingTime, c.RecordingTime);
  if (c.RecordingTime != NoLimit) {
    EXPECT_EQ(Context()->duration, c.RecordingTime);
    EXPECT_EQ(Engine.TotalDuration, c.RecordingTime);
  }
  if (*c.Warning) {
    EXPECT_TRUE(Recorder.Contains(llWarning, c.Warning));
  }
  EXPECT_EQ(Recorder.ContainsText("-t and -to") || Recorder.ContainsText("-to value"), *c.Warning != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TimeLimitTest,
    ::testing::Values(TLimitCase{"-t 60 -to 90", 60000000, "-t and -to cannot be used together; using -t."},
                      TLimitCase{"-ss 30 -to 90", 60000000, ""},
                      TLimitCase{"-ss 30 -to 20", NoLimit, "-to value smaller than -ss; ignoring -to."},
                      TLimitCase{"-to 5", 5000000, ""}, TLimitCase{"", NoLimit, ""}));

TEST_F(OutputFilesTest, MetadataAndChaptersAreCopiedFromTheFirstInput) {
  OpenInput(ChaptersSpec());
  ASSERT_EQ(OpenOutput("-t 1.5"), 0) << Engine.LastErrorText;
  AVFormatContext* oc = Context();
  EXPECT_EQ(Meta(oc->metadata, "title"), "Fixture Title");
  EXPECT_EQ(Meta(oc->metadata, "artist"), "Vexa Tests");
  EXPECT_EQ(Meta(oc->metadata, "creation_time"), "<none>");
  EXPECT_EQ(Meta(oc->metadata, "duration"), "<none>");
  ASSERT_EQ(oc->nb_streams, 2u);
  EXPECT_EQ(Meta(oc->streams[0]->metadata, "language"), "eng");
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "language"), "eng");
  ASSERT_EQ(oc->nb_chapters, 2u);
  EXPECT_EQ(Meta(oc->chapters[0]->metadata, "title"), "Chapter One");
  EXPECT_EQ(Meta(oc->chapters[1]->metadata, "title"), "Chapter Two");
  // The second chapter is cut at the recording limit.
  EXPECT_NEAR(oc->chapters[1]->end * av_q2d(oc->chapters[1]->time_base), 1.5, 1e-3);
  EXPECT_NEAR(oc->chapters[0]->end * av_q2d(oc->chapters[0]->time_base), 1.0, 1e-3);
}

TEST_F(OutputFilesTest, MetadataOptionsSetAndRemoveKeys) {
  OpenInput(ChaptersSpec());
  ASSERT_EQ(OpenOutput("-metadata title=Demo -metadata artist= -metadata:s:a language=ger -metadata:c:1 title=Second"), 0)
      << Engine.LastErrorText;
  AVFormatContext* oc = Context();
  EXPECT_EQ(Meta(oc->metadata, "title"), "Demo");
  EXPECT_EQ(Meta(oc->metadata, "artist"), "<none>");
  EXPECT_EQ(Meta(oc->streams[0]->metadata, "language"), "eng");
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "language"), "ger");
  EXPECT_EQ(Meta(oc->chapters[1]->metadata, "title"), "Second");
}

struct TMetadataFailure {
  const char* Line;
  const char* Message;
};

class MetadataFailureTest : public OutputFilesTest, public ::testing::WithParamInterface<TMetadataFailure> {};

TEST_P(MetadataFailureTest, FailsAndLeavesNoEmptyFile) {
  OpenInput(ChaptersSpec());
  EXPECT_EQ(OpenOutput(GetParam().Line), -1);
  EXPECT_EQ(Engine.LastErrorText, GetParam().Message);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
  // The file was created by the open and removed again.
  EXPECT_FALSE(FileExists(Dir.Path("out.mkv")));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MetadataFailureTest,
    ::testing::Values(TMetadataFailure{"-metadata title", "No \"=\" character in metadata string title."},
                      TMetadataFailure{"-metadata:c:7 title=x", "Invalid chapter index 7 in metadata specifier."},
                      TMetadataFailure{"-metadata:p:0 title=x", "Invalid metadata specifier p:0."},
                      TMetadataFailure{"-metadata:x title=x", "Invalid metadata type x."},
                      TMetadataFailure{"-map_metadata 5", "Invalid input file index 5 while processing metadata maps"},
                      TMetadataFailure{"-map_metadata 0:c:9", "Invalid chapter index 9 while processing metadata maps."},
                      TMetadataFailure{"-map_metadata 0:s:s", "Stream specifier s does not match  any streams."},
                      TMetadataFailure{"-map_chapters 4", "Invalid input file index 4 in chapter mapping."}));

TEST_F(OutputFilesTest, MetadataMapsReplaceTheAutomaticCopies) {
  OpenInput(ChaptersSpec());
  ASSERT_EQ(OpenOutput("-map_metadata -1 -map_chapters -1"), 0) << Engine.LastErrorText;
  EXPECT_EQ(Meta(Context()->metadata, "title"), "<none>");
  EXPECT_EQ(Meta(Context()->streams[0]->metadata, "language"), "<none>");
  EXPECT_EQ(Context()->nb_chapters, 0u);

  ASSERT_EQ(OpenOutput("-map_metadata:s:a 0:g", "b.mkv"), 1) << Engine.LastErrorText;
  AVFormatContext* oc = Context(1);
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "title"), "Fixture Title");
  EXPECT_EQ(Meta(oc->streams[0]->metadata, "title"), "<none>");
  // Global and stream copies are manual now; chapters still come along.
  EXPECT_EQ(Meta(oc->metadata, "title"), "<none>");
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "language"), "<none>");
  EXPECT_EQ(oc->nb_chapters, 2u);
}

TEST_F(OutputFilesTest, StreamIdSetsTheContainerId) {
  OpenInput(VideoAudioSpec());
  ASSERT_EQ(OpenOutput("-streamid 0:33 -streamid 1:44"), 0) << Engine.LastErrorText;
  EXPECT_EQ(Context()->streams[0]->id, 33);
  EXPECT_EQ(Context()->streams[1]->id, 44);
  EXPECT_LT(OpenOutput("-streamid 0:-1", "b.mkv"), 0);
  EXPECT_THAT(Engine.LastErrorText, ::testing::HasSubstr("\"-1\""));
}

TEST_F(OutputFilesTest, ExistingFileIsOverwrittenAndEmptyOutputRemovedAtRelease) {
  OpenInput(VideoOnlySpec());
  const std::string path = Dir.Path("out.mkv");
  std::ofstream(path) << "previous content";
  ASSERT_EQ(OpenOutput(""), 0) << Engine.LastErrorText;
  EXPECT_EQ(FileSizeOf(path), 0);
  Engine.ReleaseOutputFiles();
  EXPECT_FALSE(FileExists(path));
}

struct TMuxTimingCase {
  const char* Line;
  const char* Preload;  // nullptr: no "preload" muxer option
  int MaxDelay;
};

class MuxTimingTest : public OutputFilesTest, public ::testing::WithParamInterface<TMuxTimingCase> {};

TEST_P(MuxTimingTest, PreloadAndDelayReachTheMuxer) {
  OpenInput(VideoOnlySpec());
  const TMuxTimingCase& c = GetParam();
  ASSERT_EQ(OpenOutput(c.Line), 0) << Engine.LastErrorText;
  EXPECT_STREQ(Engine.OutputFiles[0]->Options.Value("preload"), c.Preload);
  EXPECT_EQ(Context()->max_delay, c.MaxDelay);
}

INSTANTIATE_TEST_SUITE_P(Lines, MuxTimingTest,
                         ::testing::Values(TMuxTimingCase{"", nullptr, 700000},
                                           TMuxTimingCase{"-muxpreload 0.5 -muxdelay 0.25", "500000", 250000},
                                           TMuxTimingCase{"-muxpreload 1.0000005", "1000000", 700000},
                                           TMuxTimingCase{"-muxdelay 0", nullptr, 0}));

TEST_F(OutputFilesTest, FormatThatNeedsANumberRefusesAPlainName) {
  OpenInput(VideoOnlySpec());
  const std::string name = Dir.Path("chunk.webm");
  EXPECT_EQ(OpenOutput("-f webm_chunk -vn", "chunk.webm"), -1);
  EXPECT_EQ(Engine.LastErrorText, ErrorText(name, AVERROR(EINVAL)));
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_FALSE(FileExists(name));
}

TEST_F(OutputFilesTest, UnopenableOutputLeavesNoFile) {
  OpenInput(VideoOnlySpec());
  EXPECT_EQ(OpenOutput("", "missing-dir/out.mkv"), -1);
  EXPECT_THAT(Engine.LastErrorText, StartsWith(Dir.Path("missing-dir/out.mkv") + ": "));
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
}

struct TAbortCase {
  int Inputs;
  const char* Line;
  const char* Message;
};

class OutputAbortTest : public OutputFilesTest, public ::testing::WithParamInterface<TAbortCase> {};

// An abort while the streams are made releases the output before it raises.
TEST_P(OutputAbortTest, AbortReleasesTheOutput) {
  const TAbortCase& c = GetParam();
  for (int i = 0; i < c.Inputs; ++i) OpenInput(VideoOnlySpec());
  EXPECT_EQ(AbortText([&] { OpenOutput(c.Line); }), c.Message);
  EXPECT_EQ(Engine.LastErrorText, c.Message);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
  EXPECT_FALSE(FileExists(Dir.Path("out.mkv")));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OutputAbortTest,
    ::testing::Values(TAbortCase{2, "-map 5", "Invalid input file index: 5."},
                      TAbortCase{1, "-c:v nosuchencoder", "Unknown encoder \"nosuchencoder\""},
                      TAbortCase{1, "-map 0 -c:v mpeg4 -aspect 0:1", "Invalid aspect ratio: 0:1"},
                      TAbortCase{1, "-map 0:v -map 0:v -c:v mpeg4 -pix_fmt:1 nosuch",
                                 "Unknown pixel format requested: nosuch."}));

TEST_F(OutputFilesTest, AttachmentsBecomeAttachmentStreams) {
  OpenInput(VideoOnlySpec());
  const std::string font = Dir.Path("sub/My Font.ttf");
  ASSERT_EQ(system(("mkdir -p '" + Dir.Path("sub") + "'").c_str()), 0);
  std::ofstream(font, std::ios::binary) << "font-bytes";
  ASSERT_EQ(OpenOutput("-attach \"" + font + "\""), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.OutputStreams.size(), 2u);
  const TOutputStream& att = *Engine.OutputStreams[1];
  EXPECT_EQ(att.StreamCopy, 0);
  EXPECT_EQ(att.Finished, 1);
  EXPECT_EQ(att.SourceIndex, -1);
  EXPECT_EQ(att.AttachmentFileName, font);
  ASSERT_EQ(att.CodecContext->extradata_size, 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(att.CodecContext->extradata), 10), "font-bytes");
  EXPECT_EQ(Meta(att.Stream->metadata, "filename"), "My Font.ttf");

  EXPECT_EQ(OpenOutput("-attach " + Dir.Path("none.ttf"), "b.mkv"), -1);
  EXPECT_EQ(Engine.LastErrorText, "Could not open attachment file " + Dir.Path("none.ttf") + ".");
  EXPECT_FALSE(FileExists(Dir.Path("b.mkv")));
}

TEST_F(OutputFilesTest, FlagsReachCopiedStreamsOnly) {
  OpenInput(VideoAudioSpec());
  ASSERT_EQ(OpenOutput("-c:v copy -c:a pcm_s16le -flags +bitexact"), 0) << Engine.LastErrorText;
  EXPECT_TRUE(Engine.OutputStreams[0]->CodecContext->flags & AV_CODEC_FLAG_BITEXACT);
  EXPECT_FALSE(Engine.OutputStreams[1]->CodecContext->flags & AV_CODEC_FLAG_BITEXACT);
}

TEST_F(OutputFilesTest, JoinBindsEachInputToItsOwnGroup) {
  OpenInput(VideoAudioSpec());
  OpenInput(VideoAudioSpec());
  ASSERT_EQ(OpenOutput("", "joined.mkv", true), 0) << Engine.LastErrorText;
  EXPECT_TRUE(Engine.Joined);
  EXPECT_EQ(Engine.JoinGroupSize, 2);
  ASSERT_EQ(Engine.OutputFiles.size(), 2u);
  EXPECT_EQ(Engine.OutputFiles[1]->FormatContext, Engine.OutputFiles[0]->FormatContext);
  EXPECT_EQ(Engine.OutputFiles[1]->FirstStreamIndex, 2);
  EXPECT_THAT(Sources(), ElementsAre(0, 1, 2, 3));
  EXPECT_EQ(Engine.OutputStreams[2]->Stream, Engine.OutputStreams[0]->Stream);
  EXPECT_EQ(Engine.OutputStreams[3]->FileIndex, 1);
  const int64_t sum = Engine.InputFiles[0]->FormatContext->duration + Engine.InputFiles[1]->FormatContext->duration;
  EXPECT_EQ(Engine.TotalDuration, sum);

  EXPECT_EQ(OpenOutput("", "second.mkv", true), -1);
  EXPECT_EQ(Engine.LastErrorText, "Cannot join more than one output file.");
}

TEST_F(OutputFilesTest, JoinOfDifferentLayoutsTearsTheOutputDown) {
  OpenInput(VideoAudioSpec());
  OpenInput(VideoOnlySpec());
  EXPECT_EQ(OpenOutput("", "joined.mkv", true), -1);
  EXPECT_EQ(Engine.LastErrorText, "Cannot join files with diffrent steams state");
  EXPECT_FALSE(Engine.Joined);
  EXPECT_EQ(Engine.JoinGroupSize, 0);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
  EXPECT_FALSE(FileExists(Dir.Path("joined.mkv")));
}

}  // namespace
}  // namespace vexa::test
