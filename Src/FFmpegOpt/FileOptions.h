// The per-file option set that parsing one option line fills.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "FFmpegOpt/StreamMap.h"

namespace vexa {

struct TOptionGroupDicts;

// One element of a per-stream list: the stream specifier (the part of the
// typed option name after its first ":", empty when there is none) and the
// value. Which value member is meaningful follows from the option's kind.
struct TSpecifierValue {
  std::string Specifier;
  std::string Str;
  int Int = 0;
  int64_t Int64 = 0;
  float Float = 0.0f;
  double Dbl = 0.0;
};

// Elements in the order in which the options appeared.
using TSpecifierList = std::vector<TSpecifierValue>;

constexpr int64_t NoLimit = std::numeric_limits<int64_t>::max();

struct TFileOptions {
  // The file group's media-library dictionaries (codec, format, resample,
  // scaler and resampler options of the line); set by InitFileOptions.
  TOptionGroupDicts* Group = nullptr;

  int64_t StartTime = 0;  // microseconds
  std::string Format;     // empty: none

  TSpecifierList CodecNames;
  TSpecifierList AudioChannels;
  TSpecifierList SampleRates;
  TSpecifierList FrameRates;
  TSpecifierList FrameSizes;
  TSpecifierList PixelFormats;

  int64_t InputTsOffset = 0;  // microseconds
  int RateEmulation = 0;

  TSpecifierList TsScales;
  TSpecifierList DumpAttachments;

  std::vector<TStreamMap> StreamMaps;
  std::vector<TAudioChannelMap> AudioChannelMaps;

  int MetadataGlobalManual = 0;
  int MetadataStreamsManual = 0;
  int MetadataChaptersManual = 0;

  std::vector<std::string> Attachments;

  int ChaptersInputFile = std::numeric_limits<int>::max();

  int64_t RecordingTime = NoLimit;  // microseconds; NoLimit: none
  int64_t StopTime = NoLimit;       // microseconds; NoLimit: none
  int64_t LimitFileSize = NoLimit;  // bytes; NoLimit: none

  float MuxPreload = 0.0f;   // seconds
  float MuxMaxDelay = 0.7f;  // seconds

  int Shortest = 0;
  int VideoDisable = 0;
  int AudioDisable = 0;
  int SubtitleDisable = 0;
  int DataDisable = 0;

  std::vector<int> StreamIdMap;

  TSpecifierList Metadata;
  TSpecifierList MaxFrames;
  TSpecifierList BitstreamFilters;
  TSpecifierList CodecTags;
  TSpecifierList SampleFormats;
  TSpecifierList QScales;
  TSpecifierList ForcedKeyFrames;
  TSpecifierList ForceFps;
  TSpecifierList AspectRatios;
  TSpecifierList RcOverrides;
  TSpecifierList IntraMatrices;
  TSpecifierList InterMatrices;
  TSpecifierList TopFieldFirst;
  TSpecifierList MetadataMaps;
  TSpecifierList CopyInitialNonKeyframes;
  TSpecifierList CopyPriorStart;
  TSpecifierList Filters;
  TSpecifierList ReinitFilters;
  TSpecifierList FixSubDuration;
  TSpecifierList Passes;
  TSpecifierList PassLogFiles;
  TSpecifierList GuessLayoutMax;
};

}  // namespace vexa
