// Helpers of the recording tests: decoded video frames as images.
#pragma once

#include <QImage>
#include <QString>
#include <functional>
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

// The 0xRRGGBB colour at (x, y).
inline unsigned Rgb(const QImage& AImage, int AX, int AY) { return AImage.pixel(AX, AY) & 0xFFFFFFu; }

// True when every channel of the two colours differs by at most ATolerance.
bool Near(unsigned AColor, unsigned AExpected, int ATolerance = 40);

}  // namespace vexa::test
