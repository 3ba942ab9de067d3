// Small real media files for tests, written with the libraries' API, and a
// probe that reads them back.
//
//   TTempDir dir;
//   std::string path = WriteMediaFile(dir.Path("a.mkv"), VideoAudioSpec());
//   TMediaInfo info = ProbeMedia(path);
//
// Video is MPEG-4 (yuv420p, a moving gradient), audio PCM s16 (a sine),
// subtitles SubRip text packets, the attached picture a PNG. The container
// follows the file name's extension (Matroska handles every kind of stream).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct AVStream;

namespace vexa::test {

struct TVideoSpec {
  int Width = 320;
  int Height = 240;
  int Fps = 25;
};

struct TAudioSpec {
  int SampleRate = 44100;
  int Channels = 2;
};

struct TChapterSpec {
  double Start = 0;  // seconds
  double End = 0;    // seconds
  std::string Title; // "title" metadata; empty: none
};

struct TMediaSpec {
  std::vector<TVideoSpec> Videos;
  std::vector<TAudioSpec> Audios;
  int Subtitles = 0;             // number of subtitle streams (one cue each second)
  bool AttachedPicture = false;  // adds a PNG cover stream (attached picture)
  int PictureWidth = 640;        // size of that picture
  int PictureHeight = 480;
  // An attachment stream (font-like file) with this "filename" tag; empty: none.
  std::string AttachmentName;
  std::string AttachmentData = "attachment-bytes";
  double Seconds = 1.0;      // length of every stream
  double StartOffset = 0.0;  // first timestamp of every stream (container start time)
  std::map<std::string, std::string> Metadata;        // global metadata
  std::map<std::string, std::string> StreamMetadata;  // put on every stream
  std::vector<TChapterSpec> Chapters;
};

// Ready-made layouts.
TMediaSpec VideoOnlySpec(int width = 320, int height = 240);
TMediaSpec VideoAudioSpec(int channels = 2);
TMediaSpec TwoVideosSpec(int w1 = 640, int h1 = 480, int w2 = 1280, int h2 = 720);
TMediaSpec SubtitlesSpec();
TMediaSpec ChaptersSpec();  // two chapters with titles, title/artist metadata
TMediaSpec AttachedPictureSpec();

// Writes the file (overwriting); throws std::runtime_error with the library's
// error text on failure. Returns `path`.
std::string WriteMediaFile(const std::string& path, const TMediaSpec& layout);

// Writes a PNG picture of width x height pixels, every pixel the colour
// 0xRRGGBBAA; throws std::runtime_error on failure.
void WritePicture(const std::string& path, int width, int height, uint32_t rgba);

struct TStreamInfo {
  int Type = -1;  // AVMediaType
  std::string Codec;
  int Width = 0, Height = 0;
  int SampleRate = 0, Channels = 0;
  bool AttachedPicture = false;
  std::map<std::string, std::string> Metadata;
};

// What the stream's parameters, disposition and metadata say.
TStreamInfo DescribeStream(const AVStream* st);

struct TChapterInfo {
  double Start = 0, End = 0;  // seconds
  std::map<std::string, std::string> Metadata;
};

struct TMediaInfo {
  std::string FormatName;
  double Duration = 0;   // seconds; 0 when unknown
  double StartTime = 0;  // seconds; 0 when unknown
  std::vector<TStreamInfo> Streams;
  std::vector<TChapterInfo> Chapters;
  std::map<std::string, std::string> Metadata;
};

// Opens and probes a file; throws std::runtime_error when it cannot.
TMediaInfo ProbeMedia(const std::string& path);

// A fresh directory under /tmp, removed with its content on destruction.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Root() const { return Root_; }
  std::string Path(const std::string& name) const { return Root_ + "/" + name; }

 private:
  std::string Root_;
};

bool FileExists(const std::string& path);
int64_t FileSizeOf(const std::string& path);  // -1 when missing

}  // namespace vexa::test
