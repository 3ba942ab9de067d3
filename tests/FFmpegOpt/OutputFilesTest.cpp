// OpenOutputFile: muxer choice, stream selection and mapping, limits,
// metadata and chapters, attachments, join groups and failure clean-up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "OptFixtures.h"
#include "Support/MediaFixtures.h"

namespace vexa::test {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

class OutputFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearOptionErrorText();
    Engine.InitFileOptions(O);
  }
  void TearDown() override { Engine.FreeFileOptions(O); }

  void In(const TMediaSpec& layout, const std::string& name = "", const std::string& line = "") {
    const std::string path = WriteMediaFile(Dir.Path(name.empty() ? "in" + std::to_string(inputs_++) + ".mkv" : name), layout);
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    ASSERT_GE(Engine.OpenInputFile(O, line, path), 0) << Engine.LastErrorText;
  }
  int Out(const std::string& line, const std::string& name = "out.mkv", bool join = false) {
    Engine.FreeFileOptions(O);
    Engine.InitFileOptions(O);
    return Engine.OpenOutputFile(O, line, join, Dir.Path(name));
  }
  AVFormatContext* Oc(int file = 0) { return Engine.OutputFiles.at(file)->FormatContext; }
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

  TLogRecorder Recorder;
  TTestEngine Engine;
  TFileOptions O;
  TTempDir Dir;
  int inputs_ = 0;
};

struct TMuxerCase {
  const char* Name;
  const char* Line;
  const char* Muxer;
};

class MuxerChoiceTest : public OutputFilesTest, public ::testing::WithParamInterface<TMuxerCase> {};

TEST_P(MuxerChoiceTest, ExtensionOrFormatOptionChoosesTheMuxer) {
  In(VideoOnlySpec());
  const TMuxerCase& c = GetParam();
  ASSERT_EQ(Out(c.Line, c.Name), 0) << Engine.LastErrorText;
  EXPECT_STREQ(Oc()->oformat->name, c.Muxer);
}

INSTANTIATE_TEST_SUITE_P(Names, MuxerChoiceTest,
                         ::testing::Values(TMuxerCase{"a.mp4", "", "mp4"}, TMuxerCase{"a.mkv", "", "matroska"},
                                           TMuxerCase{"a.avi", "", "avi"}, TMuxerCase{"a.mp4", "-f webm", "webm"},
                                           TMuxerCase{"a.flv", "-f matroska", "matroska"}));

TEST_F(OutputFilesTest, UnknownExtensionFailsWithTheLibraryText) {
  In(VideoOnlySpec());
  const std::string name = Dir.Path("a.nosuchext");
  EXPECT_EQ(Out("", "a.nosuchext"), -1);
  EXPECT_THAT(Engine.LastErrorText, StartsWith(name + ": "));
  EXPECT_GT(Engine.LastErrorText.size(), name.size() + 2);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_FALSE(FileExists(name));
}

TEST_F(OutputFilesTest, AutomaticSelectionTakesTheLargerVideo) {
  In(TwoVideosSpec(640, 480, 1280, 720));
  ASSERT_EQ(Out(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(1));
  EXPECT_EQ(Engine.InputStreams[1]->Discard, 0);
  EXPECT_EQ(Engine.InputStreams[1]->Stream->discard, AVDISCARD_NONE);
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 1);
}

TEST_F(OutputFilesTest, AutomaticSelectionKeepsTheFirstOfEqualVideos) {
  In(TwoVideosSpec(640, 480, 640, 480));
  ASSERT_EQ(Out(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0));
}

TEST_F(OutputFilesTest, AutomaticSelectionTakesTheAudioWithMostChannels) {
  TMediaSpec layout;
  layout.Audios = {TAudioSpec{44100, 1}, TAudioSpec{44100, 2}, TAudioSpec{44100, 2}};
  In(layout);
  ASSERT_EQ(Out(""), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(1));
}

TEST_F(OutputFilesTest, AttachedPictureDoesNotWinOverARealVideo) {
  In(AttachedPictureSpec());  // video 320x240, audio, PNG cover 640x480
  ASSERT_TRUE(Engine.InputStreams[2]->Stream->disposition & AV_DISPOSITION_ATTACHED_PIC);
  ASSERT_EQ(Out(""), 0) << Engine.LastErrorText;
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
  In(layout);
  ASSERT_EQ(Out(GetParam().Line), 0) << Engine.LastErrorText;
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
  In(layout);
  // AVI has no default subtitle codec; naming one on the line selects them.
  ASSERT_EQ(Out("-c:v mpeg4 -c:a pcm_s16le", "a.avi"), 0) << Engine.LastErrorText;
  EXPECT_THAT(Types(), ElementsAre(AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO));
  ASSERT_EQ(Out("-c:v mpeg4 -c:a pcm_s16le -c:s copy", "b.avi"), 1) << Engine.LastErrorText;
  EXPECT_EQ(Engine.OutputStreams.back()->Stream->codecpar->codec_type, AVMEDIA_TYPE_SUBTITLE);
}

TEST_F(OutputFilesTest, NegativeMapRemovesEarlierEntries) {
  TMediaSpec layout = TwoVideosSpec(320, 240, 160, 120);
  layout.Audios.push_back(TAudioSpec{});
  In(layout);  // streams: v, v, a
  ASSERT_EQ(Out("-map 0:v -map -0:v:1"), 0) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0));
  ASSERT_EQ(O.StreamMaps.size(), 2u);
  EXPECT_EQ(O.StreamMaps[1].Disabled, 1);

  ASSERT_EQ(Out("-map 0 -map -0:a", "b.mkv"), 1) << Engine.LastErrorText;
  EXPECT_THAT(Sources(), ElementsAre(0, 0, 1));
}

TEST_F(OutputFilesTest, MapHonoursDisableOptionsAndSyncStreams) {
  In(VideoAudioSpec());
  In(VideoAudioSpec());
  ASSERT_EQ(Out("-map 1:a -map 0:v,1:a -an"), 0) << Engine.LastErrorText;
  ASSERT_THAT(Sources(), ElementsAre(0));
  EXPECT_EQ(Engine.OutputStreams[0]->SyncInput, Engine.InputStreams[3].get());
}

TEST_F(OutputFilesTest, MapToAMissingInputAborts) {
  In(VideoOnlySpec());
  In(VideoOnlySpec());
  try {
    Out("-map 5");
    FAIL() << "expected FFmpegException";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Invalid input file index: 5.");
  }
  EXPECT_TRUE(Engine.OutputFiles.empty());
}

TEST_F(OutputFilesTest, MapOfAFilterLabelBindsTheGraphOutput) {
  In(VideoOnlySpec());
  ASSERT_EQ(Out("-filter_complex [0:v]scale=160:120[small] -map [small] -c:v mpeg4"), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.OutputStreams.size(), 1u);
  const TOutputStream& ost = *Engine.OutputStreams[0];
  EXPECT_EQ(ost.SourceIndex, -1);
  ASSERT_NE(ost.Filter, nullptr);
  EXPECT_EQ(ost.Filter->OutputStream, &ost);
  EXPECT_EQ(Engine.InputStreams[0]->Discard, 0);

  // The label is used up now.
  EXPECT_EQ(Out("-map [small]", "b.mkv"), -1);
  EXPECT_EQ(Engine.LastErrorText,
            "Output with label \"small\" does not exist in any defined filter graph, or was already used elsewhere.");
  EXPECT_FALSE(FileExists(Dir.Path("b.mkv")));
}

TEST_F(OutputFilesTest, UnlabeledGraphOutputTakesThePlaceOfTheAutomaticVideo) {
  TMediaSpec layout = TwoVideosSpec(160, 120, 320, 240);
  layout.Audios.push_back(TAudioSpec{});
  In(layout);
  ASSERT_EQ(Out("-filter_complex [0:v:0]scale=96:64 -c:v mpeg4"), 0) << Engine.LastErrorText;
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
  In(VideoOnlySpec());
  const TLimitCase& c = GetParam();
  ASSERT_EQ(Out(c.Line), 0) << Engine.LastErrorText;
  EXPECT_EQ(Engine.OutputFiles[0]->RecordingTime, c.RecordingTime);
  if (c.RecordingTime != NoLimit) {
    EXPECT_EQ(Oc()->duration, c.RecordingTime);
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
  In(ChaptersSpec());
  ASSERT_EQ(Out("-t 1.5"), 0) << Engine.LastErrorText;
  AVFormatContext* oc = Oc();
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
  In(ChaptersSpec());
  ASSERT_EQ(Out("-metadata title=Demo -metadata artist= -metadata:s:a language=ger -metadata:c:1 title=Second"), 0)
      << Engine.LastErrorText;
  AVFormatContext* oc = Oc();
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
  In(ChaptersSpec());
  EXPECT_EQ(Out(GetParam().Line), -1);
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
  In(ChaptersSpec());
  ASSERT_EQ(Out("-map_metadata -1 -map_chapters -1"), 0) << Engine.LastErrorText;
  EXPECT_EQ(Meta(Oc()->metadata, "title"), "<none>");
  EXPECT_EQ(Meta(Oc()->streams[0]->metadata, "language"), "<none>");
  EXPECT_EQ(Oc()->nb_chapters, 0u);

  ASSERT_EQ(Out("-map_metadata:s:a 0:g", "b.mkv"), 1) << Engine.LastErrorText;
  AVFormatContext* oc = Oc(1);
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "title"), "Fixture Title");
  EXPECT_EQ(Meta(oc->streams[0]->metadata, "title"), "<none>");
  // Global and stream copies are manual now; chapters still come along.
  EXPECT_EQ(Meta(oc->metadata, "title"), "<none>");
  EXPECT_EQ(Meta(oc->streams[1]->metadata, "language"), "<none>");
  EXPECT_EQ(oc->nb_chapters, 2u);
}

TEST_F(OutputFilesTest, StreamIdSetsTheContainerId) {
  In(VideoAudioSpec());
  ASSERT_EQ(Out("-streamid 0:33 -streamid 1:44"), 0) << Engine.LastErrorText;
  EXPECT_EQ(Oc()->streams[0]->id, 33);
  EXPECT_EQ(Oc()->streams[1]->id, 44);
  EXPECT_LT(Out("-streamid 0:-1", "b.mkv"), 0);
  EXPECT_THAT(Engine.LastErrorText, ::testing::HasSubstr("\"-1\""));
}

TEST_F(OutputFilesTest, ExistingFileIsOverwrittenAndEmptyOutputRemovedAtRelease) {
  In(VideoOnlySpec());
  const std::string path = Dir.Path("out.mkv");
  std::ofstream(path) << "previous content";
  ASSERT_EQ(Out(""), 0) << Engine.LastErrorText;
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
  In(VideoOnlySpec());
  const TMuxTimingCase& c = GetParam();
  ASSERT_EQ(Out(c.Line), 0) << Engine.LastErrorText;
  EXPECT_STREQ(Engine.OutputFiles[0]->Options.Value("preload"), c.Preload);
  EXPECT_EQ(Oc()->max_delay, c.MaxDelay);
}

INSTANTIATE_TEST_SUITE_P(Lines, MuxTimingTest,
                         ::testing::Values(TMuxTimingCase{"", nullptr, 700000},
                                           TMuxTimingCase{"-muxpreload 0.5 -muxdelay 0.25", "500000", 250000},
                                           TMuxTimingCase{"-muxpreload 1.0000005", "1000000", 700000},
                                           TMuxTimingCase{"-muxdelay 0", nullptr, 0}));

TEST_F(OutputFilesTest, FormatThatNeedsANumberRefusesAPlainName) {
  In(VideoOnlySpec());
  const std::string name = Dir.Path("chunk.webm");
  EXPECT_EQ(Out("-f webm_chunk -vn", "chunk.webm"), -1);
  EXPECT_EQ(Engine.LastErrorText, name + ": Invalid argument");
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_FALSE(FileExists(name));
}

TEST_F(OutputFilesTest, UnopenableOutputLeavesNoFile) {
  In(VideoOnlySpec());
  EXPECT_EQ(Out("", "missing-dir/out.mkv"), -1);
  EXPECT_THAT(Engine.LastErrorText, StartsWith(Dir.Path("missing-dir/out.mkv") + ": "));
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
}

TEST_F(OutputFilesTest, AbortDuringStreamCreationReleasesTheOutput) {
  In(VideoOnlySpec());
  try {
    Out("-c:v nosuchencoder");
    FAIL() << "expected FFmpegException";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown encoder \"nosuchencoder\"");
  }
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
  EXPECT_FALSE(FileExists(Dir.Path("out.mkv")));
}

TEST_F(OutputFilesTest, AttachmentsBecomeAttachmentStreams) {
  In(VideoOnlySpec());
  const std::string font = Dir.Path("sub/My Font.ttf");
  ASSERT_EQ(system(("mkdir -p '" + Dir.Path("sub") + "'").c_str()), 0);
  std::ofstream(font, std::ios::binary) << "font-bytes";
  ASSERT_EQ(Out("-attach \"" + font + "\""), 0) << Engine.LastErrorText;
  ASSERT_EQ(Engine.OutputStreams.size(), 2u);
  const TOutputStream& att = *Engine.OutputStreams[1];
  EXPECT_EQ(att.StreamCopy, 0);
  EXPECT_EQ(att.Finished, 1);
  EXPECT_EQ(att.SourceIndex, -1);
  EXPECT_EQ(att.AttachmentFileName, font);
  ASSERT_EQ(att.CodecContext->extradata_size, 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(att.CodecContext->extradata), 10), "font-bytes");
  EXPECT_EQ(Meta(att.Stream->metadata, "filename"), "My Font.ttf");

  EXPECT_EQ(Out("-attach " + Dir.Path("none.ttf"), "b.mkv"), -1);
  EXPECT_EQ(Engine.LastErrorText, "Could not open attachment file " + Dir.Path("none.ttf") + ".");
  EXPECT_FALSE(FileExists(Dir.Path("b.mkv")));
}

TEST_F(OutputFilesTest, FlagsReachCopiedStreamsOnly) {
  In(VideoAudioSpec());
  ASSERT_EQ(Out("-c:v copy -c:a pcm_s16le -flags +bitexact"), 0) << Engine.LastErrorText;
  EXPECT_TRUE(Engine.OutputStreams[0]->CodecContext->flags & AV_CODEC_FLAG_BITEXACT);
  EXPECT_FALSE(Engine.OutputStreams[1]->CodecContext->flags & AV_CODEC_FLAG_BITEXACT);
}

TEST_F(OutputFilesTest, JoinBindsEachInputToItsOwnGroup) {
  In(VideoAudioSpec());
  In(VideoAudioSpec());
  ASSERT_EQ(Out("", "joined.mkv", true), 0) << Engine.LastErrorText;
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

  EXPECT_EQ(Out("", "second.mkv", true), -1);
  EXPECT_EQ(Engine.LastErrorText, "Cannot join more than one output file.");
}

TEST_F(OutputFilesTest, JoinOfDifferentLayoutsTearsTheOutputDown) {
  In(VideoAudioSpec());
  In(VideoOnlySpec());
  EXPECT_EQ(Out("", "joined.mkv", true), -1);
  EXPECT_EQ(Engine.LastErrorText, "Cannot join files with diffrent steams state");
  EXPECT_FALSE(Engine.Joined);
  EXPECT_EQ(Engine.JoinGroupSize, 0);
  EXPECT_TRUE(Engine.OutputFiles.empty());
  EXPECT_TRUE(Engine.OutputStreams.empty());
  EXPECT_FALSE(FileExists(Dir.Path("joined.mkv")));
}

}  // namespace
}  // namespace vexa::test
