#include "FFLoad/UnicodeProtocol.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FFLoad/FFLoad.h"
#include "Support/MediaFixtures.h"
#include "Support/MediaOwners.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace vexa {
namespace {

using test::TCodecPtr;
using test::TFramePtr;
using test::TInputPtr;
using test::TPacketPtr;

constexpr int Width = 12;
constexpr int Height = 7;

uint8_t Pixel(int x, int y, int frame) {
  return static_cast<uint8_t>(x * 17 + y * 29 + frame * 5);
}

TFramePtr PatternFrame(AVPixelFormat format, int frame) {
  TFramePtr picture(av_frame_alloc());
  picture->width = Width;
  picture->height = Height;
  picture->format = format;
  if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
  for (int plane = 0; plane < AV_NUM_DATA_POINTERS && picture->buf[plane]; ++plane) {
    const int rows = plane == 0 ? Height : (Height + 1) / 2;
    const int bytes =
        format == AV_PIX_FMT_RGB24 ? Width * 3 : (plane == 0 ? Width : (Width + 1) / 2);
    uint8_t* data = picture->data[plane];
    for (int y = 0; y < rows; ++y) {
      for (int x = 0; x < bytes; ++x) data[y * picture->linesize[plane] + x] = Pixel(x, y, frame);
    }
  }
  return picture;
}

// Encodes the pattern as one PNG picture and writes it with stdio.
bool WritePng(const std::string& path) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
  if (!codec) return false;
  TCodecPtr encoder(avcodec_alloc_context3(codec));
  encoder->width = Width;
  encoder->height = Height;
  encoder->pix_fmt = AV_PIX_FMT_RGB24;
  encoder->time_base = {1, 25};
  if (avcodec_open2(encoder.get(), codec, nullptr) < 0) return false;
  TFramePtr picture = PatternFrame(AV_PIX_FMT_RGB24, 0);
  TPacketPtr packet(av_packet_alloc());
  if (!picture || avcodec_send_frame(encoder.get(), picture.get()) < 0) return false;
  if (avcodec_receive_packet(encoder.get(), packet.get()) < 0) return false;
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const size_t size = static_cast<size_t>(packet->size);
  const bool written = std::fwrite(packet->data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

off_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

TEST(MediaFileNames, ImageNamesByExtension) {
  const std::pair<const char*, bool> cases[] = {
      {"/tmp/logo.png", true},       {"/tmp/LOGO.PNG", true},     {"shot.JpEg", true},
      {"a.mpg4-img", true},          {"frame.y", true},           {"x.xwd", true},
      {"/tmp/movie.mp4", false},     {"clip.mkv", false},         {"noextension", false},
      {"/tmp/dir.png/file", false},  {"trailing.", false},        {"", false},
      {"http://host/pic.gif", true}, {"archive.png.zip", false},
  };
  for (const auto& [name, image] : cases) EXPECT_EQ(IsImageName(name), image) << name;
}

TEST(MediaFileNames, NamesPassAsUtf8BothWays) {
  const std::string names[] = {
      "/home/user/Videos/VexaScreenRecorder-640-480_(new).mp4",
      "/tmp/wásser ☃/Aufnahme_(new_2).mkv",
      "/tmp/wásser ☃.png",
      "http://host/logo.png",
      "relative/ßtraße.jpg",
  };
  for (const std::string& name : names) {
    EXPECT_EQ(ToMediaFileName(name), name);
    EXPECT_EQ(FromMediaFileName(ToMediaFileName(name)), name);
  }
}

TEST(MediaFileNames, ProtocolIsNotAvailable) {
  RegisterUnicodeProtocol();
  EXPECT_FALSE(UnicodeProtocolAvailable());
  TFFLoader loader;
  ASSERT_TRUE(loader.LoadLib(libAVFormat)) << loader.LastErrMsg();
  ASSERT_TRUE(loader.LoadLib(libAVFormat));
  EXPECT_FALSE(UnicodeProtocolAvailable());
}

TEST(MediaFileNames, NonAsciiImageOpensAndDecodes) {
  test::TTempDir dir;
  const std::string path = dir.Path("wásser ☃.png");
  ASSERT_TRUE(WritePng(path));
  const off_t size = FileSize(path);
  ASSERT_GT(size, 0);

  AVFormatContext* raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, ToMediaFileName(path).c_str(), nullptr, nullptr), 0);
  TInputPtr input(raw);
  ASSERT_GE(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 1u);
  EXPECT_EQ(FromMediaFileName(input->url), path);
  const AVCodecParameters* par = input->streams[0]->codecpar;
  ASSERT_EQ(par->codec_id, AV_CODEC_ID_PNG);

  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  ASSERT_NE(codec, nullptr);
  TCodecPtr decoder(avcodec_alloc_context3(codec));
  ASSERT_GE(avcodec_parameters_to_context(decoder.get(), par), 0);
  ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
  TPacketPtr packet(av_packet_alloc());
  ASSERT_EQ(av_read_frame(input.get(), packet.get()), 0);
  ASSERT_EQ(avcodec_send_packet(decoder.get(), packet.get()), 0);
  TFramePtr picture(av_frame_alloc());
  ASSERT_EQ(avcodec_receive_frame(decoder.get(), picture.get()), 0);
  ASSERT_EQ(picture->format, AV_PIX_FMT_RGB24);
  ASSERT_EQ(picture->width, Width);
  ASSERT_EQ(picture->height, Height);
  int wrong = 0;
  for (int y = 0; y < Height; ++y) {
    const uint8_t* row = picture->data[0] + y * picture->linesize[0];
    for (int x = 0; x < Width * 3; ++x) wrong += row[x] != Pixel(x, y, 0);
  }
  EXPECT_EQ(wrong, 0);
  input.reset();
  EXPECT_EQ(FileSize(path), size);  // reading never truncates
}

TEST(MediaFileNames, Mp4WithNonAsciiNameIsWrittenAndReadBack) {
  test::TTempDir dir;
  const std::string path = dir.Path("VexaScreenRecorder-12-7_(new) ☃é.mp4");
  const std::string mediaName = ToMediaFileName(path);
  ASSERT_EQ(mediaName, path);
  test::WriteMediaFile(mediaName, test::VideoOnlySpec(16, 16));
  EXPECT_GT(FileSize(path), 0);  // under its own name, not a mangled one

  const test::TMediaInfo info = test::ProbeMedia(ToMediaFileName(path));
  EXPECT_EQ(info.FormatName.rfind("mov,mp4", 0), 0u) << info.FormatName;
  ASSERT_EQ(info.Streams.size(), 1u);
  EXPECT_EQ(info.Streams[0].Width, 16);
  EXPECT_EQ(info.Streams[0].Height, 16);
}

}  // namespace
}  // namespace vexa
