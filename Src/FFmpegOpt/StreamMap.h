// Stream and channel selections of one output, filled by -map and -map_channel.
#pragma once

#include <string>

namespace vexa {

// One -map entry.
struct TStreamMap {
  int Disabled = 0;         // 1 when a later negative -map removed this entry
  int FileIndex = 0;        // input file index
  int StreamIndex = 0;      // stream index within that input file
  int SyncFileIndex = 0;    // input file used for synchronisation
  int SyncStreamIndex = 0;  // stream of that file used for synchronisation
  std::string LinkLabel;    // [label] maps: the filter graph output label (empty: none)
};

// One -map_channel entry. -1 in an output field means any output file or
// stream; a ChannelIndex of -1 is a muted channel.
struct TAudioChannelMap {
  int FileIndex = 0;
  int StreamIndex = 0;
  int ChannelIndex = 0;
  int OutputFileIndex = 0;
  int OutputStreamIndex = 0;
};

}  // namespace vexa
