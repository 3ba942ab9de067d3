// The vhook option: module texts split at "|" or at blanks, modules loaded
// once with their own folder searched for their dependencies, Process on
// every decoded frame, Release at clean-up, and the refusals.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "TranscodeTestSupport.h"

namespace vexa::test {
namespace {

const std::string kDir = VEXA_VHOOK_DIR;
const std::string kPaint = kDir + "/vexa_vhook_paint.so";
const std::string kNoProcess = kDir + "/vexa_vhook_noprocess.so";
const std::string kNoConfigure = kDir + "/vexa_vhook_noconfigure.so";
constexpr const char* kBlackYuv = "color=c=black:size=64x48:rate=25:duration=0.4,format=yuv420p";

// A function of a module the task has loaded.
template <typename F>
F ModuleFunction(const std::string& path, const char* name) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return nullptr;
  F f = reinterpret_cast<F>(dlsym(handle, name));
  dlclose(handle);  // drops only the reference taken here
  return f;
}

std::vector<std::string> ArgumentsSeen() {
  auto count = ModuleFunction<int (*)()>(kPaint, "TestArgCount");
  auto arg = ModuleFunction<const char* (*)(int)>(kPaint, "TestArg");
  std::vector<std::string> args;
  if (!count || !arg) return args;
  for (int i = 0; i < count(); ++i) args.push_back(arg(i));
  return args;
}

// Adds an output with the vhook text; the add's result.
int AddWithVHook(TTestTask& task, const std::string& dir, const std::string& text) {
  return task.AddOutput(dir + "/out.mkv", "-c:v mpeg4 -qscale 2 -vhook \"" + text + "\"");
}

TEST(VHookTest, TextSplitsAtBarsOrElseAtBlanks) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {kPaint + "|a b|c", {kPaint, "a b", "c"}},
      {kPaint + " a b c", {kPaint, "a", "b", "c"}},
  };
  for (const auto& [text, expected] : cases) {
    TTempDir dir;
    TTranscodeLog log;
    TTestTask task;
    ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
    ASSERT_GE(AddWithVHook(task, dir.Root(), text), 0) << task.LastErrorText;
    EXPECT_TRUE(task.VHookActive);
    EXPECT_EQ(ArgumentsSeen(), expected);
  }
}

TEST(VHookTest, AtMostSixtyTwoArguments) {
  std::string text = kPaint;
  for (int i = 0; i < 70; ++i) text += " a" + std::to_string(i);
  TTempDir dir;
  TTranscodeLog log;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
  ASSERT_GE(AddWithVHook(task, dir.Root(), text), 0) << task.LastErrorText;
  const std::vector<std::string> args = ArgumentsSeen();
  ASSERT_EQ(args.size(), 63u);
  EXPECT_EQ(args.back(), "a61");
}

TEST(VHookTest, ModuleProcessesEveryFrameAndIsReleased) {
  auto released = [] { return ModuleFunction<int (*)()>(kPaint, "TestReleaseCalls"); };
  TTempDir dir;
  TTranscodeLog log;
  const std::string out = dir.Path("out.mkv");
  int processBefore = 0, releaseBefore = 0;
  if (auto f = ModuleFunction<int (*)()>(kPaint, "TestProcessCalls")) processBefore = f();
  if (auto f = released()) releaseBefore = f();
  {
    TTestTask task;
    ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
    ASSERT_GE(AddWithVHook(task, dir.Root(), kPaint), 0) << task.LastErrorText;
    task.RunInline();
    ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
    EXPECT_TRUE(task.VHookModules.empty());
  }
  EXPECT_EQ(ModuleFunction<int (*)()>(kPaint, "TestProcessCalls")() - processBefore, 10);
  EXPECT_EQ(released()() - releaseBefore, 1);
  const TRgb p = PixelAt(out, 5, 20, 20);
  EXPECT_GT(p.R, 220);
  EXPECT_GT(p.G, 220);
  EXPECT_GT(p.B, 220);
}

TEST(VHookTest, ModuleWithoutConfigureTakesNoArguments) {
  TTempDir dir;
  TTranscodeLog log;
  TTestTask task;
  ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
  ASSERT_GE(AddWithVHook(task, dir.Root(), kNoConfigure), 0) << task.LastErrorText;
  task.RunInline();
  ASSERT_FALSE(task.ExceptionRaised) << task.ExceptionMsg;
  EXPECT_EQ(ModuleFunction<int (*)()>(kNoConfigure, "TestProcessCalls")(), 10);
}

TEST(VHookTest, RefusalsGiveTheirMessageAndFailTheOption) {
  const std::pair<std::string, std::string> cases[] = {
      {kNoProcess, "Failed to find Process entrypoint in " + kNoProcess},
      {kNoConfigure + " x", "Failed to find Configure entrypoint in " + kNoConfigure},
      {kPaint + " fail", "Failed to Configure " + kPaint},
      {kDir + "/missing.so", kDir + "/missing.so: cannot open shared object file"},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    TTempDir dir;
    TTranscodeLog log;
    TTestTask task;
    ASSERT_TRUE(task.AddInput(kBlackYuv, "-f lavfi"));
    EXPECT_LT(AddWithVHook(task, dir.Root(), text), 0);
    EXPECT_TRUE(log.Contains(message)) << log.Text();
    EXPECT_EQ(task.LastErrorText, "Failed to add video hook function: " + text);
    EXPECT_FALSE(task.VHookActive);
  }
}

}  // namespace
}  // namespace vexa::test
