// Helpers of the recording tests: decoded video frames as images.
#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <string>
#include <vector>

namespace vexa::test {

struct TDecodedVideo {
  bool Opened = false;
  int Frames = 0;
  std::vector<double> Times;  // seconds, per decoded frame
  std::vector<QImage> Images; // the frames `keep` asked for, in order (RGB32)
  std::vector<int> ImageIndexes;
};

// Decodes the first video stream of APath; frames whose index `AKeep`
// accepts are kept as images.
TDecodedVideo DecodeVideo(const QString& APath, const std::function<bool(int)>& AKeep);

// The streams of a file after reading it to its end (streams that a
// demuxer adds while reading included): codec names and the time span of
// their packets.
struct TStreamSpan {
  std::string Codec;
  double Start = 0;  // seconds
  double End = 0;
};
struct TFileStreams {
  bool Opened = false;
  TStreamSpan Video;
  TStreamSpan Audio;
  int StreamCount = 0;
};
TFileStreams ProbeStreams(const QString& APath);

// The 0xRRGGBB colour at (x, y).
inline unsigned Rgb(const QImage& AImage, int AX, int AY) { return AImage.pixel(AX, AY) & 0xFFFFFFu; }

// True when every channel of the two colours differs by at most ATolerance.
bool Near(unsigned AColor, unsigned AExpected, int ATolerance = 40);

}  // namespace vexa::test
