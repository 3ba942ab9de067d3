// The media library's log callback: line assembly, repeats, prefixes, long
// messages, level filtering.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/log.h>
}

#include "FFLog/LogTestFixture.h"

namespace vexa {
namespace {

using ::testing::ElementsAre;
using test::LoggerFixture;
using test::QuietMediaCall;

class MediaLog : public LoggerFixture {};

// Objects with an AVClass, optionally pointing to a parent context.
struct TParentCtx {
  const AVClass* Class;
};
struct TChildCtx {
  const AVClass* Class;
  int Unused;
  void* Parent;
};

std::atomic<int> gItemNameCalls{0};
const char* CountingItemName(void*) {
  ++gItemNameCalls;
  return "Counted";
}

AVClass MakeClass(const char* name, int parentOffset, const char* (*itemName)(void*) = av_default_item_name) {
  AVClass cls{};
  cls.class_name = name;
  cls.item_name = itemName;
  cls.version = LIBAVUTIL_VERSION_INT;
  cls.parent_log_context_offset = parentOffset;
  return cls;
}

const AVClass kParentClass = MakeClass("ParentCtx", 0);
const AVClass kChildClass = MakeClass("ChildCtx", offsetof(TChildCtx, Parent));
const AVClass kOrphanClass = MakeClass("OrphanCtx", 0);
const AVClass kCountingClass = MakeClass("CountingCtx", 0, CountingItemName);

std::string Addr(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

TEST_F(MediaLog, FragmentsOfOneLineAreDeliveredOnceAsOneLine) {
  av_log(nullptr, AV_LOG_INFO, "Stream #0:0: ");
  EXPECT_TRUE(Messages().empty());
  av_log(nullptr, AV_LOG_INFO, "Video: %s, %dx%d\n", "h264", 640, 480);
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, "Stream #0:0: Video: h264, 640x480");
  EXPECT_EQ(lines[0].Level, llInfo);
  EXPECT_EQ(lines[0].Sender, &Logger);
  EXPECT_EQ(lines[0].ThreadID, test::ThisThreadId());
}

TEST_F(MediaLog, OneCallWithSeveralLineFeedsGivesSeveralLines) {
  av_log(nullptr, AV_LOG_INFO, "a\n\nb\nrest");
  EXPECT_THAT(Messages(), ElementsAre("a", "", "b"));
  av_log(nullptr, AV_LOG_INFO, "\n");
  EXPECT_THAT(Messages(), ElementsAre("a", "", "b", "rest"));
}

const char* const kQuiet = nullptr;  // stands for the "%s"/NULL call

struct TRepeatCase {
  const char* Name;
  std::vector<const char*> Calls;
  std::vector<std::string> Expected;
};

class MediaLogRepeats : public LoggerFixture, public ::testing::WithParamInterface<TRepeatCase> {};

TEST_P(MediaLogRepeats, CollapsesRepeatedWholeLines) {
  for (const char* call : GetParam().Calls) {
    if (call == kQuiet)
      QuietMediaCall();
    else
      av_log(nullptr, AV_LOG_INFO, "%s", call);
  }
  EXPECT_EQ(Messages(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MediaLogRepeats,
    ::testing::Values(
        TRepeatCase{"ThreeIdentical", {"A\n", "A\n", "A\n", "B\n"}, {"A", "    Last message repeated 2 times", "B"}},
        TRepeatCase{"TwoIdentical", {"A\n", "A\n", "B\n"}, {"A", "B"}},
        TRepeatCase{"FiveIdentical", {"A\n", "A\n", "A\n", "A\n", "A\n", "B\n"},
                    {"A", "    Last message repeated 4 times", "B"}},
        TRepeatCase{"NoticeOnlyAtNextDifferentLine", {"A\n", "A\n", "A\n"}, {"A"}},
        TRepeatCase{"QuietCallFlushesTheNotice", {"A\n", "A\n", "A\n", kQuiet, "A\n"},
                    {"A", "    Last message repeated 2 times", "A"}},
        TRepeatCase{"QuietCallAloneDeliversNothing", {kQuiet, kQuiet}, {}},
        TRepeatCase{"QuietCallWithTwoIdenticalGivesNoNotice", {"A\n", "A\n", kQuiet}, {"A"}},
        TRepeatCase{"FragmentsWithoutLineFeedAreNotRepeats", {"x", "x", "\n"}, {"xx"}},
        TRepeatCase{"RepeatedEndOfAFragmentedLineIsKept", {"abc", "\n", "abc", "\n", "z\n"}, {"abc", "abc", "z"}}),
    [](const ::testing::TestParamInfo<TRepeatCase>& info) { return std::string(info.param.Name); });

TEST_F(MediaLog, RepeatNoticeComesAtTheLevelOfTheNextLine) {
  av_log(nullptr, AV_LOG_INFO, "same\n");
  av_log(nullptr, AV_LOG_INFO, "same\n");
  av_log(nullptr, AV_LOG_INFO, "same\n");
  av_log(nullptr, AV_LOG_ERROR, "other\n");
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].Msg, "    Last message repeated 2 times");
  EXPECT_EQ(lines[1].Level, llError);
  EXPECT_EQ(lines[2].Level, llError);
}

TEST_F(MediaLog, QuietCallKeepsPendingTextOfTheThread) {
  av_log(nullptr, AV_LOG_INFO, "begun ");
  QuietMediaCall();
  av_log(nullptr, AV_LOG_INFO, "ended\n");
  EXPECT_THAT(Messages(), ElementsAre("begun ended"));
}

class MediaLogLength : public LoggerFixture, public ::testing::WithParamInterface<size_t> {};

TEST_P(MediaLogLength, LongMessagesAreDeliveredWhole) {
  std::string text;
  for (size_t i = 0; i < GetParam(); ++i) text += static_cast<char>('a' + i % 26);
  av_log(nullptr, AV_LOG_INFO, "%s\n", text.c_str());
  EXPECT_THAT(Messages(), ElementsAre(text));

  // The same behind an object prefix, which shares the first buffer.
  ClearLogged();
  TParentCtx ctx{&kOrphanClass};
  av_log(&ctx, AV_LOG_INFO, "%s\n", text.c_str());
  EXPECT_THAT(Messages(), ElementsAre("[OrphanCtx @ " + Addr(&ctx) + "]" + text));
}

INSTANTIATE_TEST_SUITE_P(Sizes, MediaLogLength, ::testing::Values(0, 2000, 2046, 2047, 2048, 4097, 6144, 100000));

TEST_F(MediaLog, PrefixNamesTheParentContextAndTheObject) {
  TParentCtx parent{&kParentClass};
  TChildCtx child{&kChildClass, 0, &parent};
  av_log(&child, AV_LOG_WARNING, "opened %d streams\n", 2);
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, "[ParentCtx @ " + Addr(&parent) + "] [ChildCtx @ " + Addr(&child) + "]opened 2 streams");
  EXPECT_EQ(lines[0].Level, llWarning);
  EXPECT_THAT(lines[0].Msg, ::testing::MatchesRegex(R"(\[ParentCtx @ 0x[0-9a-f]+\] \[ChildCtx @ 0x[0-9a-f]+\]opened 2 streams)"));
}

TEST_F(MediaLog, PrefixWithoutUsableParent) {
  TChildCtx unparented{&kChildClass, 0, nullptr};
  TParentCtx classless{nullptr};
  TChildCtx parentWithoutClass{&kChildClass, 0, &classless};
  TParentCtx orphan{&kOrphanClass};
  av_log(&unparented, AV_LOG_INFO, "one\n");
  av_log(&parentWithoutClass, AV_LOG_INFO, "two\n");
  av_log(&orphan, AV_LOG_INFO, "three\n");
  av_log(&classless, AV_LOG_INFO, "four\n");
  EXPECT_THAT(Messages(), ElementsAre("[ChildCtx @ " + Addr(&unparented) + "]one",
                                      "[ChildCtx @ " + Addr(&parentWithoutClass) + "]two",
                                      "[OrphanCtx @ " + Addr(&orphan) + "]three", "four"));
}

TEST_F(MediaLog, PrefixOnlyAtTheStartOfALine) {
  TParentCtx a{&kOrphanClass};
  av_log(&a, AV_LOG_INFO, "first ");
  av_log(&a, AV_LOG_INFO, "second\n");
  EXPECT_THAT(Messages(), ElementsAre("[OrphanCtx @ " + Addr(&a) + "]first second"));
}

TEST_F(MediaLog, ColourBitsOfTheLevelAreIgnored) {
  Logger.SetLogLevel(llInfo);
  av_log(nullptr, AV_LOG_INFO | AV_LOG_C(134), "purple\n");
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Msg, "purple");
  EXPECT_EQ(lines[0].Level, llInfo);
}

struct TFilterCase {
  TLogLevel LogLevel;
  int MediaLevel;
  bool Delivered;
};

class MediaLogFilter : public LoggerFixture, public ::testing::WithParamInterface<TFilterCase> {};

TEST_P(MediaLogFilter, LogLevelSetsTheMediaLevelAndFilters) {
  Logger.SetLogLevel(GetParam().LogLevel);
  EXPECT_EQ(av_log_get_level(), LogLevelToMedia(GetParam().LogLevel));
  av_log(nullptr, GetParam().MediaLevel, "line\n");
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), GetParam().Delivered ? 1u : 0u);
  if (GetParam().Delivered) {
    EXPECT_EQ(lines[0].Level, MediaToLogLevel(GetParam().MediaLevel));
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, MediaLogFilter,
                         ::testing::Values(TFilterCase{llQuiet, AV_LOG_PANIC, false},
                                           TFilterCase{llPanic, AV_LOG_PANIC, true},
                                           TFilterCase{llPanic, AV_LOG_FATAL, false},
                                           TFilterCase{llError, AV_LOG_ERROR, true},
                                           TFilterCase{llError, AV_LOG_WARNING, false},
                                           TFilterCase{llInfo, AV_LOG_INFO, true},
                                           TFilterCase{llInfo, AV_LOG_VERBOSE, false},
                                           TFilterCase{llDebug, AV_LOG_DEBUG, true},
                                           TFilterCase{llDebug, AV_LOG_TRACE, false}));

TEST_F(MediaLog, DirectLinesAreFilteredByLogLevel) {
  Logger.SetLogLevel(llWarning);
  int sender = 0;
  Log(&sender, llError, "kept error");
  Log(&sender, llInfo, "dropped info");
  LogFmt(&sender, llWarning, "kept %s %d", "warning", 7);
  LogFmt(&sender, llVerbose, "dropped %s", "verbose");
  const auto lines = Logged();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Msg, "kept error");
  EXPECT_EQ(lines[0].Level, llError);
  EXPECT_EQ(lines[0].Sender, &sender);
  EXPECT_EQ(lines[1].Msg, "kept warning 7");
  EXPECT_EQ(lines[1].ThreadID, test::ThisThreadId());
}

TEST_F(MediaLog, DirectLinesOfAnyLength) {
  const std::string text(9000, 'q');
  LogFmt(nullptr, llInfo, "<%s>", text.c_str());
  EXPECT_THAT(Messages(), ElementsAre("<" + text + ">"));
}

TEST_F(MediaLog, InactiveLoggerFormatsNothing) {
  gItemNameCalls = 0;
  TParentCtx counted{&kCountingClass};
  av_log(&counted, AV_LOG_INFO, "active\n");
  ASSERT_EQ(gItemNameCalls.load(), 1);

  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step == 0 ? "no OnLog, no file" : "Active false");
    const TLogEvent handler = Logger.OnLog();
    if (step == 0)
      Logger.SetOnLog(nullptr);
    else
      Logger.SetActive(false);
    EXPECT_TRUE(Logger.Inactive());
    av_log(&counted, AV_LOG_INFO, "begun but dropped ");
    av_log(&counted, AV_LOG_INFO, "dropped\n");
    Log(nullptr, llInfo, "dropped");
    EXPECT_EQ(gItemNameCalls.load(), 1);
    if (step == 0)
      Logger.SetOnLog(handler);
    else
      Logger.SetActive(true);
    EXPECT_FALSE(Logger.Inactive());
  }
  av_log(nullptr, AV_LOG_INFO, "back\n");
  EXPECT_THAT(Messages(), ElementsAre("[Counted @ " + Addr(&counted) + "]active", "back"));
}

TEST_F(MediaLog, HandlerThatThrowsDoesNotDisturbTheCaller) {
  Logger.SetOnLog([](const void*, uint32_t, TLogLevel, const std::string&) { throw std::runtime_error("handler"); });
  EXPECT_NO_THROW(Log(nullptr, llInfo, "direct"));
  EXPECT_NO_THROW(av_log(nullptr, AV_LOG_INFO, "media\n"));
}

}  // namespace
}  // namespace vexa
