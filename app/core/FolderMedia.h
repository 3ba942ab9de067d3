// Where an output folder lives: output folders on optical discs are refused.
#pragma once

#include <string>

namespace vexa::app {

// True for the file-system type magics of CD-ROM and DVD media (iso9660, udf).
bool IsOpticalFileSystemType(long fileSystemType);

// True when `path` (or, for a folder not created yet, its nearest existing
// parent) is on an iso9660 or udf file system.
bool IsOnOpticalDisc(const std::string& path);

}  // namespace vexa::app
