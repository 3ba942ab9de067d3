// Rows of the option table.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "FFmpegOpt/FileOptions.h"

namespace vexa {

class TCustomFFmpegOpt;

// Option flags. Only the bits marked "parsing" change how an option is parsed.
enum : uint32_t {
  ofHasArg = 0x1,       // parsing: consumes the next token as its argument
  ofBool = 0x2,         // parsing: boolean, accepts the "no" prefix
  ofExpert = 0x4,
  ofString = 0x8,       // parsing: the value is a copy of the argument
  ofVideo = 0x10,
  ofAudio = 0x20,
  ofInt = 0x80,         // parsing: 32-bit integer
  ofFloat = 0x100,      // parsing: single precision
  ofSubtitle = 0x200,
  ofInt64 = 0x400,      // parsing: 64-bit integer
  ofExit = 0x800,       // rows served by a handler only
  ofData = 0x1000,
  ofPerFile = 0x2000,   // parsing: file group
  ofOffset = 0x4000,    // parsing: a field of TFileOptions; file group
  ofSpec = 0x8000,      // parsing: a TSpecifierList of TFileOptions; file group
  ofTime = 0x10000,     // parsing: a duration in microseconds
  ofDouble = 0x20000,   // parsing: double precision
};

// The kind bits that select how WriteOption stores a value.
constexpr uint32_t ofValueKinds = ofString | ofBool | ofInt | ofInt64 | ofTime | ofFloat | ofDouble;

// A handler receives the file options being filled (nullptr for rows of the
// global group), the option name as typed (with its stream specifier) and the
// argument ("1" for rows without ofHasArg); negative results are failures.
using TOptionHandler = int (TCustomFFmpegOpt::*)(TFileOptions* o, const std::string& opt,
                                                  const std::string& arg);

using TOptionTarget =
    std::variant<std::monostate,
                 std::string TFileOptions::*,     // ofOffset, text
                 int TFileOptions::*,             // ofOffset, bool or int
                 int64_t TFileOptions::*,         // ofOffset, int64 or time
                 float TFileOptions::*,           // ofOffset, float
                 TSpecifierList TFileOptions::*,  // ofSpec
                 int TCustomFFmpegOpt::*,         // engine setting, bool or int
                 float TCustomFFmpegOpt::*,       // engine setting, float
                 TOptionHandler>;

struct TOptionDef {
  std::string Name;  // without the leading "-"; case-sensitive
  uint32_t Flags = 0;
  TOptionTarget Target;
  std::string Help;     // not used at run time
  std::string ArgName;  // not used at run time

  bool Has(uint32_t flag) const { return (Flags & flag) != 0; }
  bool IsFileGroup() const { return (Flags & (ofPerFile | ofOffset | ofSpec)) != 0; }
};

// One option of a parsed line: the row, the name as typed, the argument.
struct TOptionEntry {
  const TOptionDef* Def = nullptr;
  std::string Name;
  std::string Arg;
};

}  // namespace vexa
