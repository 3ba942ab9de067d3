// Properties and option-line rewriting of the encoder component.
#include <gtest/gtest.h>

#include "FFEncode/FFEncode.h"

namespace vexa::test {
namespace {

TEST(EncoderPropertiesTest, Defaults) {
  TFFEncoder encoder;
  EXPECT_EQ(encoder.Version(), "5.2");
  EXPECT_EQ(encoder.ReadTimeout(), 30000);
  EXPECT_EQ(encoder.WriteTimeout(), 30000);
  EXPECT_TRUE(encoder.GetStrictOptions());
  EXPECT_FALSE(encoder.GetPreview());
  EXPECT_FALSE(encoder.GetPreviewBitmap());
  EXPECT_EQ(encoder.GetProgressInterval(), 500);
  EXPECT_EQ(encoder.GetThreadPriority(), tpNormal);
  EXPECT_TRUE(encoder.GetTriggerEventInMainThread());
  EXPECT_FALSE(encoder.Working());
  EXPECT_EQ(encoder.NextIndex(), -1);
  EXPECT_EQ(encoder.Remaining(), 0);
  EXPECT_TRUE(encoder.LastErrMsg().empty());
}

TEST(EncoderPropertiesTest, ProgressIntervalOfAtMost100IsStoredAs100) {
  const std::pair<int, int> cases[] = {{50, 100}, {100, 100}, {-3, 100}, {101, 101}, {2000, 2000}};
  TFFEncoder encoder;
  for (const auto& [given, stored] : cases) {
    encoder.SetProgressInterval(given);
    EXPECT_EQ(encoder.GetProgressInterval(), stored) << given;
  }
}

TEST(EncoderPropertiesTest, HookOptionNamesAreRewrittenToTheTablesSpelling) {
  const std::pair<const char*, const char*> cases[] = {
      {"-c:v mpeg4 -videoinputhook -b:v 1M", "-c:v mpeg4 -VideoInputHook -b:v 1M"},
      {"-VIDEOOUTPUTHOOK", "-VideoOutputHook"},
      {"-audioinputhook -audiooutputhook", "-AudioInputHook -AudioOutputHook"},
      {"-frameinputhook -c copy -frameoutputhook", "-FrameInputHook -c copy -FrameOutputHook"},
      {"  -join  ", "-Join"},
      // Only whole option names are rewritten.
      {"-joint -videoinputhooks -metadata title=-join", "-joint -videoinputhooks -metadata title=-join"},
      {"", ""},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(TCustomEncoder::RewriteHookOptions(line), expected) << line;
}

TEST(EncoderPropertiesTest, LoadLibrariesLoadsTheEncoderSet) {
  TFFEncoder encoder;
  EXPECT_TRUE(encoder.LoadLibraries("")) << encoder.LastErrMsg();
  EXPECT_TRUE(encoder.LibrariesLoaded());
}

TEST(EncoderPropertiesTest, PreviewFlagsFollowThePropertiesOnEveryTask) {
  TFFEncoder encoder;
  ASSERT_TRUE(encoder.LoadLibraries(""));
  TInputOptions in;
  InitInputOptions(&in);
  in.FileOptions = "-f lavfi";
  encoder.SetPreviewBitmap(true);
  ASSERT_EQ(encoder.AddTask("testsrc=duration=1", &in), 0) << encoder.LastErrMsg();
  ASSERT_EQ(encoder.AddTask("testsrc=duration=1", &in), 1) << encoder.LastErrMsg();
  EXPECT_EQ(encoder.Tasks().Items(0)->GetPreviewFlags(), pfPreviewBitmap);
  encoder.SetPreview(true);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(encoder.Tasks().Items(i)->GetPreviewFlags(), pfPreviewWindow | pfPreviewBitmap);
  encoder.SetPreviewBitmap(false);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(encoder.Tasks().Items(i)->GetPreviewFlags(), pfPreviewWindow);
  encoder.RemoveTask(0);
  EXPECT_EQ(encoder.Tasks().Count(), 1);
}

}  // namespace
}  // namespace vexa::test
