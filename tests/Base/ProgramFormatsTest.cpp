#include "Base/ProgramFormats.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "Support/TestProgramFormat.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace vexa {
namespace {

// A small program format: "count" packets of "size" bytes filled with the
// packet number, then end of file; ReadHeader fails when url is "fail".
struct TTestPriv {
  const AVClass* Class;
  int Count;
  int Size;
  char* Label;
  int Next;
};

const AVOption kTestOptions[] = {
    {"count", "packets to deliver", offsetof(TTestPriv, Count), AV_OPT_TYPE_INT, {.i64 = 3}, 0, 100,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"size", "bytes per packet", offsetof(TTestPriv, Size), AV_OPT_TYPE_INT, {.i64 = 16}, 1, 4096,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"label", "stream title", offsetof(TTestPriv, Label), AV_OPT_TYPE_STRING, {.str = "plain"}, 0, 0,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};

const AVClass kTestClass = test::TestOptionClass("ProgramFormatsTest", kTestOptions);

int gCloseCalls = 0;

int TestReadHeader(AVFormatContext* s) {
  auto* p = static_cast<TTestPriv*>(s->priv_data);
  if (std::string(s->url) == "fail") return AVERROR(EIO);
  AVStream* st = avformat_new_stream(s, nullptr);
  if (!st) return AVERROR(ENOMEM);
  st->codecpar->codec_type = AVMEDIA_TYPE_DATA;
  st->codecpar->codec_id = AV_CODEC_ID_BIN_DATA;
  st->time_base = AVRational{1, 1000};
  av_dict_set(&st->metadata, "title", p->Label, 0);
  return 0;
}

int TestReadPacket(AVFormatContext* s, AVPacket* pkt) {
  auto* p = static_cast<TTestPriv*>(s->priv_data);
  if (p->Next >= p->Count) return AVERROR_EOF;
  int ret = av_new_packet(pkt, p->Size);
  if (ret < 0) return ret;
  for (int i = 0; i < p->Size; ++i) pkt->data[i] = static_cast<uint8_t>(p->Next);
  pkt->pts = p->Next * 40;
  pkt->stream_index = 0;
  ++p->Next;
  return pkt->size;  // formats may return the payload size
}

int TestReadClose(AVFormatContext*) {
  ++gCloseCalls;
  return 0;
}

const TProgramInputFormat kTestFormat = [] {
  TProgramInputFormat f;
  f.Name = "vexa_test_format";
  f.LongName = "Test format";
  f.Flags = AVFMT_NOFILE;
  f.PrivClass = &kTestClass;
  f.PrivDataSize = sizeof(TTestPriv);
  f.ReadHeader = TestReadHeader;
  f.ReadPacket = TestReadPacket;
  f.ReadClose = TestReadClose;
  return f;
}();

struct DictDeleter {
  void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

class ProgramFormatsTest : public ::testing::Test {
 protected:
  void SetUp() override { gCloseCalls = 0; }
  void TearDown() override {
    CloseProgramInput(&s_, &kTestFormat);
    av_dict_free(&options_);
  }
  AVFormatContext* s_ = nullptr;
  AVDictionary* options_ = nullptr;
};

TEST_F(ProgramFormatsTest, OptionsReachPrivateContextAndLeftoversStay) {
  av_dict_set(&options_, "count", "2", 0);
  av_dict_set(&options_, "label", "screen", 0);
  av_dict_set(&options_, "no_such_option", "1", 0);
  av_dict_set(&options_, "rtbufsize", "1000", 0);
  ASSERT_EQ(OpenProgramInput(&s_, &kTestFormat, "dev=1", &options_), 0);
  ASSERT_NE(s_, nullptr);
  auto* p = static_cast<TTestPriv*>(s_->priv_data);
  EXPECT_EQ(p->Class, &kTestClass);
  EXPECT_EQ(p->Count, 2);
  EXPECT_EQ(p->Size, 16);  // default
  EXPECT_STREQ(p->Label, "screen");
  EXPECT_STREQ(s_->url, "dev=1");
  EXPECT_EQ(s_->max_picture_buffer, 1000u);  // generic option on the context
  ASSERT_EQ(av_dict_count(options_), 1);
  EXPECT_NE(av_dict_get(options_, "no_such_option", nullptr, 0), nullptr);
}

TEST_F(ProgramFormatsTest, StreamsDescribedAndPacketsReadUntilEnd) {
  av_dict_set(&options_, "count", "3", 0);
  av_dict_set(&options_, "size", "5", 0);
  ASSERT_EQ(OpenProgramInput(&s_, &kTestFormat, "x", &options_), 0);
  ASSERT_EQ(s_->nb_streams, 1u);
  EXPECT_EQ(s_->streams[0]->codecpar->codec_type, AVMEDIA_TYPE_DATA);
  AVDictionaryEntry* title = av_dict_get(s_->streams[0]->metadata, "title", nullptr, 0);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title->value, "plain");

  AVPacket* pkt = av_packet_alloc();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(ReadProgramInput(s_, &kTestFormat, pkt), 0) << i;
    EXPECT_EQ(pkt->size, 5);
    EXPECT_EQ(pkt->data[4], i);
    EXPECT_EQ(pkt->pts, i * 40);
    EXPECT_EQ(pkt->dts, pkt->pts);
    EXPECT_EQ(pkt->time_base.num, 1);
    EXPECT_EQ(pkt->time_base.den, 1000);
    av_packet_unref(pkt);
  }
  EXPECT_EQ(ReadProgramInput(s_, &kTestFormat, pkt), AVERROR_EOF);
  av_packet_free(&pkt);
}

TEST_F(ProgramFormatsTest, CloseRunsFormatCloseOnceAndClearsPointer) {
  ASSERT_EQ(OpenProgramInput(&s_, &kTestFormat, "x", nullptr), 0);
  CloseProgramInput(&s_, &kTestFormat);
  EXPECT_EQ(s_, nullptr);
  EXPECT_EQ(gCloseCalls, 1);
  CloseProgramInput(&s_, &kTestFormat);  // safe on nullptr
  EXPECT_EQ(gCloseCalls, 1);
}

struct FailCase {
  const char* Name;
  const char* Url;
  const char* Key;
  const char* Value;
  int Expected;
};

class ProgramFormatsFailTest : public ProgramFormatsTest,
                               public ::testing::WithParamInterface<FailCase> {};

TEST_P(ProgramFormatsFailTest, FailedOpenLeavesNothing) {
  const FailCase& c = GetParam();
  if (c.Key) av_dict_set(&options_, c.Key, c.Value, 0);
  av_dict_set(&options_, "leftover", "1", 0);
  EXPECT_EQ(OpenProgramInput(&s_, &kTestFormat, c.Url, &options_), c.Expected);
  EXPECT_EQ(s_, nullptr);
  EXPECT_EQ(gCloseCalls, 0);  // a failing header cleans up after itself
  EXPECT_NE(av_dict_get(options_, "leftover", nullptr, 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramFormatsFailTest,
    ::testing::Values(FailCase{"HeaderFails", "fail", nullptr, nullptr, AVERROR(EIO)},
                      FailCase{"OptionOutOfRange", "x", "count", "101", AVERROR(ERANGE)},
                      FailCase{"OptionNotANumber", "x", "size", "big", AVERROR(EINVAL)},
                      FailCase{"BadGenericOption", "x", "fflags", "+nosuchflag", AVERROR(EINVAL)}),
    [](const ::testing::TestParamInfo<FailCase>& i) { return std::string(i.param.Name); });

TEST(ProgramFormatsRegistry, RegistersOnceAndListsClasses) {
  EXPECT_EQ(FindProgramInputFormat("vexa_test_format"), nullptr);
  RegisterProgramInputFormat(&kTestFormat);
  TProgramInputFormat twin = kTestFormat;  // same name, another record
  RegisterProgramInputFormat(&twin);
  EXPECT_EQ(FindProgramInputFormat("vexa_test_format"), &kTestFormat);
  EXPECT_EQ(FindProgramInputFormat("vexa_test"), nullptr);
  int found = 0;
  for (const AVClass* c : ProgramInputFormatClasses()) found += (c == &kTestClass);
  EXPECT_EQ(found, 1);
}

}  // namespace
}  // namespace vexa
