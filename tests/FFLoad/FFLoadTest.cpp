#include "FFLoad/FFLoad.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Base/FFmpegException.h"
#include "FFLog/FFLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vexa {
namespace {

using ::testing::ElementsAreArray;

std::string So(const char* name, int major) {
  return std::string("lib") + name + ".so." + std::to_string(major);
}

std::string CheckLibsMessage(const TFFLoader& loader, TLibrarySet libs) {
  try {
    loader.CheckLibs(libs);
  } catch (const FFmpegException& e) {
    return e.what();
  }
  return "";
}

TEST(FFLoadTable, RowsInLoadingOrder) {
  struct TRow {
    const char* Name;
    int Version;
    std::string FileName;
  };
  const TRow rows[] = {
      {"avcodec", LIBAVCODEC_VERSION_MAJOR, So("avcodec", LIBAVCODEC_VERSION_MAJOR)},
      {"avdevice", LIBAVDEVICE_VERSION_MAJOR, So("avdevice", LIBAVDEVICE_VERSION_MAJOR)},
      {"avfilter", LIBAVFILTER_VERSION_MAJOR, So("avfilter", LIBAVFILTER_VERSION_MAJOR)},
      {"avformat", LIBAVFORMAT_VERSION_MAJOR, So("avformat", LIBAVFORMAT_VERSION_MAJOR)},
      {"avutil", LIBAVUTIL_VERSION_MAJOR, So("avutil", LIBAVUTIL_VERSION_MAJOR)},
      {"swresample", LIBSWRESAMPLE_VERSION_MAJOR, So("swresample", LIBSWRESAMPLE_VERSION_MAJOR)},
      {"swscale", LIBSWSCALE_VERSION_MAJOR, So("swscale", LIBSWSCALE_VERSION_MAJOR)},
      {"msvcrt", -1, "libc.so.6"},
  };
  for (int i = 0; i < LibraryCount; ++i) {
    SCOPED_TRACE(i);
    const TLibraryItem& item = LibraryItem(i);
    EXPECT_EQ(item.Lib, i);
    EXPECT_STREQ(item.Name, rows[i].Name);
    EXPECT_EQ(item.Version, rows[i].Version);
    EXPECT_EQ(item.NoPath, i == libMSVCRT);
    EXPECT_EQ(TFFLoader::LibFileName(i), rows[i].FileName);
  }
  EXPECT_THROW(LibraryItem(8), std::out_of_range);
  EXPECT_THROW(TFFLoader::LibFileName(-1), std::out_of_range);
}

TEST(FFLoadTable, LibrarySets) {
  bool encoder[LibraryCount], decoder[LibraryCount], all[LibraryCount];
  for (int i = 0; i < LibraryCount; ++i) {
    encoder[i] = EncoderLibs.Contains(i);
    decoder[i] = DecoderLibs.Contains(i);
    all[i] = AllLibs.Contains(i);
  }
  EXPECT_THAT(encoder, ElementsAreArray({true, true, true, true, true, true, true, true}));
  EXPECT_THAT(decoder, ElementsAreArray({true, false, false, true, true, true, true, true}));
  EXPECT_THAT(all, ElementsAreArray({true, true, true, true, true, true, true, true}));
  EXPECT_FALSE(EncoderLibs.Contains(8));
  EXPECT_FALSE(EncoderLibs.Contains(-1));
}

class FFLoaderTest : public ::testing::Test {
 protected:
  // Reports a run-time major version one above the build's for `row`.
  void BreakVersionOf(int row) {
    Loader.SetVersionQuery([row](int lib) {
      const int build = LibraryItem(lib).Version;
      return lib == row ? build + 1 : build;
    });
  }

  TFFLoader Loader;
};

TEST_F(FFLoaderTest, LoadsEveryRowOfTheRealLibraries) {
  EXPECT_FALSE(Loader.Loaded(EncoderLibs));
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs)) << Loader.LastErrMsg();
  EXPECT_TRUE(Loader.Loaded(EncoderLibs));
  EXPECT_EQ(Loader.LastErrMsg(), "");
  for (int i = 0; i < LibraryCount; ++i) {
    const TLibraryStatus status = Loader.Status(i);
    EXPECT_EQ(status.Lib, i);
    EXPECT_NE(status.Handle, nullptr);
    EXPECT_TRUE(status.Loaded);
    EXPECT_TRUE(Loader.IsLoaded(i));
  }
  EXPECT_NO_THROW(Loader.CheckLibs(EncoderLibs));
  // Devices are registered: the lavfi input exists.
  EXPECT_NE(av_find_input_format("lavfi"), nullptr);
}

TEST_F(FFLoaderTest, UnloadAndLoadAgain) {
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs));
  Loader.UnloadLibs(DecoderLibs);
  for (int i = 0; i < LibraryCount; ++i) {
    EXPECT_EQ(Loader.IsLoaded(i), !DecoderLibs.Contains(i)) << i;
    if (DecoderLibs.Contains(i)) {
      EXPECT_EQ(Loader.Status(i).Handle, nullptr) << i;
    }
  }
  EXPECT_FALSE(Loader.Loaded(EncoderLibs));
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs)) << Loader.LastErrMsg();
  EXPECT_TRUE(Loader.Loaded(EncoderLibs));
}

TEST_F(FFLoaderTest, VersionMismatchFailsTheLoad) {
  BreakVersionOf(libSwScale);
  EXPECT_FALSE(Loader.LoadLib(libSwScale));
  EXPECT_EQ(Loader.LastErrMsg(),
            "Load library " + So("swscale", LIBSWSCALE_VERSION_MAJOR) +
                " error: run-time major version " + std::to_string(LIBSWSCALE_VERSION_MAJOR + 1) +
                " differs from build version " + std::to_string(LIBSWSCALE_VERSION_MAJOR));
  EXPECT_FALSE(Loader.IsLoaded(libSwScale));
  EXPECT_EQ(Loader.Status(libSwScale).Handle, nullptr);
}

TEST_F(FFLoaderTest, FailureUnloadsTheWholeRequestedSet) {
  // avutil loaded by an earlier call, swscale outside the requested set.
  ASSERT_TRUE(Loader.LoadLib(libAVUtil));
  ASSERT_TRUE(Loader.LoadLib(libSwScale));
  BreakVersionOf(libAVFilter);
  const TLibrarySet requested{libAVCodec, libAVDevice, libAVFilter, libAVFormat, libAVUtil};

  EXPECT_FALSE(Loader.LoadLibs(requested));
  EXPECT_THAT(Loader.LastErrMsg(),
              ::testing::StartsWith("Load library " +
                                    So("avfilter", LIBAVFILTER_VERSION_MAJOR) + " error: "));
  for (TLibrary row : {libAVCodec, libAVDevice, libAVFilter, libAVFormat, libAVUtil}) {
    EXPECT_FALSE(Loader.IsLoaded(row)) << row;
    EXPECT_EQ(Loader.Status(row).Handle, nullptr) << row;
  }
  EXPECT_TRUE(Loader.IsLoaded(libSwScale));
  EXPECT_FALSE(Loader.Loaded(EncoderLibs));

  Loader.SetVersionQuery(nullptr);
  EXPECT_TRUE(Loader.LoadLibs(requested)) << Loader.LastErrMsg();
}

TEST_F(FFLoaderTest, SecondLoadInstallsTheLogHookAgain) {
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs));
  const int hooked = LogLevelToMedia(GetFFLogger().LogLevel());
  const int other = hooked == AV_LOG_TRACE ? AV_LOG_PANIC : AV_LOG_TRACE;
  av_log_set_level(other);
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs));
  EXPECT_EQ(av_log_get_level(), hooked);
  EXPECT_TRUE(Loader.Loaded(EncoderLibs));
}

TEST_F(FFLoaderTest, CheckLibsNamesTheFirstMissingRow) {
  EXPECT_EQ(CheckLibsMessage(Loader, DecoderLibs), "Library avcodec not loaded.");
  ASSERT_TRUE(Loader.LoadLib(libAVCodec));
  EXPECT_EQ(CheckLibsMessage(Loader, DecoderLibs), "Library avformat not loaded.");
  ASSERT_TRUE(Loader.LoadLibs(TLibrarySet{libAVFormat, libAVUtil, libSwResample, libSwScale}));
  EXPECT_EQ(CheckLibsMessage(Loader, DecoderLibs), "Library msvcrt not loaded.");
  ASSERT_TRUE(Loader.LoadLib(libMSVCRT));
  EXPECT_EQ(CheckLibsMessage(Loader, DecoderLibs), "");
  EXPECT_TRUE(Loader.Loaded(DecoderLibs));
  EXPECT_FALSE(Loader.Loaded(EncoderLibs));
}

TEST_F(FFLoaderTest, CallerErrors) {
  EXPECT_THROW(Loader.LoadLibs(TLibrarySet{}), std::invalid_argument);
  EXPECT_THROW(Loader.Loaded(TLibrarySet{}), std::invalid_argument);
  EXPECT_THROW(Loader.UnloadLibs(TLibrarySet{}), std::invalid_argument);
  EXPECT_THROW(Loader.LoadLib(8), std::out_of_range);
  EXPECT_THROW(Loader.UnloadLib(-1), std::out_of_range);
  EXPECT_THROW(Loader.IsLoaded(8), std::out_of_range);
}

TEST_F(FFLoaderTest, ShutdownUnloadsAndClears) {
  Loader.SetLibraryPath("/opt/LibAV");
  EXPECT_EQ(Loader.LibraryPath(), "/opt/LibAV");
  BreakVersionOf(libAVCodec);
  EXPECT_FALSE(Loader.LoadLibs(EncoderLibs));
  EXPECT_NE(Loader.LastErrMsg(), "");
  Loader.SetVersionQuery(nullptr);
  ASSERT_TRUE(Loader.LoadLibs(EncoderLibs));
  Loader.Shutdown();
  EXPECT_FALSE(Loader.IsLoaded(libAVUtil));
  EXPECT_EQ(Loader.LastErrMsg(), "");
  EXPECT_EQ(Loader.LibraryPath(), "");
}

TEST(FFLoaderInstance, ProcessWideLoaderServesEveryCaller) {
  TFFLoader& loader = FFLoader();
  ASSERT_TRUE(loader.LoadLibs(EncoderLibs)) << loader.LastErrMsg();
  EXPECT_TRUE(FFLoader().Loaded(EncoderLibs));
  EXPECT_NO_THROW(FFLoader().CheckLibs(DecoderLibs));
}

}  // namespace
}  // namespace vexa
