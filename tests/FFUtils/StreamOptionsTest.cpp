#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FFUtils/FFUtils.h"
#include "Support/MediaFixtures.h"
#include "Support/MediaOwners.h"

namespace vexa {
namespace {

using TEntries = std::vector<std::pair<std::string, std::string>>;
using TMap = std::map<std::string, std::string>;

struct TContextFree {
  void operator()(AVFormatContext* s) const { avformat_free_context(s); }
};

TDictionary MakeDict(const TEntries& entries) {
  TDictionary d;
  for (const auto& [k, v] : entries) d.Set(k.c_str(), v.c_str());
  return d;
}

TMap ToMap(const AVDictionary* d) {
  TMap m;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX))) m[e->key] = e->value;
  return m;
}

// A context with a video stream (MPEG-4) and an audio stream (MP2), as an
// output (encoding options) or an input (decoding options).
std::unique_ptr<AVFormatContext, TContextFree> MakeContext(bool output) {
  AVFormatContext* s = nullptr;
  if (output)
    avformat_alloc_output_context2(&s, nullptr, "matroska", nullptr);
  else
    s = avformat_alloc_context();
  std::unique_ptr<AVFormatContext, TContextFree> owner(s);
  if (!s) return owner;
  AVStream* v = avformat_new_stream(s, nullptr);
  AVStream* a = avformat_new_stream(s, nullptr);
  if (!v || !a) return nullptr;
  v->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  v->codecpar->codec_id = AV_CODEC_ID_MPEG4;
  a->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codecpar->codec_id = AV_CODEC_ID_MP2;
  return owner;
}

struct TFilterCase {
  const char* Name;
  bool Output;
  int Stream;  // 0 video, 1 audio
  TEntries Options;
  bool Invalid;  // the whole result is empty (no dictionary)
  TMap Expected;
};

void PrintTo(const TFilterCase& c, std::ostream* os) { *os << c.Name; }

class FilterCodecOptionsTest : public ::testing::TestWithParam<TFilterCase> {};

TEST_P(FilterCodecOptionsTest, KeepsWhatAppliesToTheStream) {
  const TFilterCase& c = GetParam();
  auto s = MakeContext(c.Output);
  ASSERT_TRUE(s);
  TDictionary options = MakeDict(c.Options);
  AVStream* st = s->streams[c.Stream];
  TDictionary result =
      FilterCodecOptions(options.Get(), st->codecpar->codec_id, s.get(), st, nullptr);
  if (c.Invalid) {
    EXPECT_EQ(nullptr, result.Get());
  } else {
    EXPECT_EQ(c.Expected, ToMap(result.Get()));
  }
  // The source dictionary is left as it was.
  EXPECT_EQ(static_cast<int>(c.Options.size()), options.Count());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterCodecOptionsTest,
    ::testing::Values(
        TFilterCase{"VideoSpecifierOnVideo", true, 0, {{"b:v", "1000k"}, {"b:a", "128k"}}, false,
                    {{"b", "1000k"}}},
        TFilterCase{"AudioSpecifierOnAudio", true, 1, {{"b:v", "1000k"}, {"b:a", "128k"}}, false,
                    {{"b", "128k"}}},
        TFilterCase{"IndexedSpecifier", true, 1, {{"b:a:0", "96k"}, {"g:1", "5"}}, false,
                    {{"b", "96k"}}},
        TFilterCase{"InvalidSpecifierEmptiesAll", true, 0, {{"b:v", "1000k"}, {"g:z", "5"}},
                    true, {}},
        TFilterCase{"VideoPrefix", true, 0, {{"vg", "12"}, {"acutoff", "15000"}}, false,
                    {{"g", "12"}}},
        TFilterCase{"AudioPrefix", true, 1, {{"vg", "12"}, {"acutoff", "15000"}}, false,
                    {{"cutoff", "15000"}}},
        TFilterCase{"PrefixWithSpecifier", true, 0, {{"vg:v", "12"}, {"vg:a", "13"}}, false,
                    {{"g", "12"}}},
        TFilterCase{"MediaTypeOfOption", true, 0, {{"ar", "44100"}, {"g", "12"}}, false,
                    {{"g", "12"}}},
        TFilterCase{"AudioOptionOnAudio", true, 1, {{"ar", "44100"}, {"g", "12"}}, false,
                    {{"ar", "44100"}}},
        TFilterCase{"EncoderPrivateOption", true, 0, {{"data_partitioning", "1"}}, false,
                    {{"data_partitioning", "1"}}},
        TFilterCase{"PrivateOptionOfAnotherCodec", true, 1, {{"data_partitioning", "1"}},
                    false, {}},
        TFilterCase{"EncodingOptionOnInput", false, 0, {{"b", "1000k"}, {"threads", "2"}},
                    false, {{"threads", "2"}}},
        TFilterCase{"UnknownKeyDropped", true, 0, {{"no_such_key", "1"}}, false, {}}));

TEST(CheckStreamSpecifierTest, MatchesSkipsAndRejects) {
  auto s = MakeContext(true);
  ASSERT_TRUE(s);
  EXPECT_GT(CheckStreamSpecifier(s.get(), s->streams[0], "v"), 0);
  EXPECT_EQ(0, CheckStreamSpecifier(s.get(), s->streams[1], "v"));
  EXPECT_GT(CheckStreamSpecifier(s.get(), s->streams[1], "1"), 0);
  EXPECT_GT(CheckStreamSpecifier(s.get(), s->streams[0], ""), 0);
  EXPECT_LT(CheckStreamSpecifier(s.get(), s->streams[0], "z"), 0);
}

TEST(StreamInfoOptionsTest, ContextWithoutStreamsGivesNone) {
  std::unique_ptr<AVFormatContext, TContextFree> s(avformat_alloc_context());
  ASSERT_TRUE(s);
  TDictionary options = MakeDict({{"threads", "1"}});
  TDictionaryArray result = StreamInfoOptions(s.get(), options.Get());
  EXPECT_TRUE(result.Empty());
  EXPECT_EQ(nullptr, result.Data());
}

TEST(StreamInfoOptionsTest, OneFilteredDictionaryPerStreamOfARealFile) {
  test::TTempDir dir;
  test::TMediaSpec layout = test::VideoAudioSpec();
  layout.Videos[0] = test::TVideoSpec{64, 48, 10};
  const std::string path = test::WriteMediaFile(dir.Path("probe.mkv"), layout);

  AVFormatContext* raw = nullptr;
  ASSERT_EQ(0, avformat_open_input(&raw, path.c_str(), nullptr, nullptr));
  test::TInputPtr s(raw);
  ASSERT_EQ(2u, s->nb_streams);
  const int videoIndex = s->streams[0]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? 0 : 1;
  const int audioIndex = 1 - videoIndex;

  TDictionary options = MakeDict({{"threads:v", "1"},
                                  {"request_sample_fmt:a", "s16"},
                                  {"b", "1000k"},
                                  {"g:z", "1"}});
  // An invalid specifier empties every stream's set; without it each stream
  // gets its own.
  TDictionaryArray invalid = StreamInfoOptions(s.get(), options.Get());
  ASSERT_EQ(2u, invalid.Size());
  EXPECT_EQ(nullptr, invalid[0]);
  EXPECT_EQ(nullptr, invalid[1]);

  av_dict_set(options.Address(), "g:z", nullptr, 0);
  TDictionaryArray perStream = StreamInfoOptions(s.get(), options.Get());
  ASSERT_EQ(2u, perStream.Size());
  EXPECT_EQ((TMap{{"threads", "1"}}), ToMap(perStream[videoIndex]));
  EXPECT_EQ((TMap{{"request_sample_fmt", "s16"}}), ToMap(perStream[audioIndex]));

  // The array is in the shape the stream probe takes; it consumes the options.
  ASSERT_GE(avformat_find_stream_info(s.get(), perStream.Data()), 0);
  EXPECT_EQ(0, av_dict_count(perStream[videoIndex]));
  EXPECT_EQ(0, av_dict_count(perStream[audioIndex]));
  EXPECT_EQ(64, s->streams[videoIndex]->codecpar->width);
  EXPECT_EQ(44100, s->streams[audioIndex]->codecpar->sample_rate);
}

}  // namespace
}  // namespace vexa
