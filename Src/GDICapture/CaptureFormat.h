// The "gdicapture" input format: the screen (or one window) and a sound
// source as one input of raw video and PCM packets with microsecond
// timestamps. Input name: "video=V:audio=A" (V an X window id, 0 = the whole
// screen; A a source number, -1 = the default source; either half alone).
#pragma once

#include <string>

#include "Base/ProgramFormats.h"

namespace vexa {

// Adds "gdicapture" to the program input formats once (later calls do
// nothing).
void RegisterCaptureInput();

// The format record (also reachable through FindProgramInputFormat once
// registered).
const TProgramInputFormat* CaptureInputFormat();

// The result of parsing a device name.
struct TDeviceSpec {
  bool Valid = false;       // begins with "video=" or "audio=" and its values convert
  bool VideoEnabled = false;
  bool AudioEnabled = false;
  long long Window = 0;     // X window id
  int WaveDevice = -1;      // source number
  std::string ConvertError;  // the failing conversion's message, if any
};
TDeviceSpec ParseDeviceSpec(const std::string& spec);

// The integer conversion used for device values: decimal with an optional
// sign, or hexadecimal after "0x" or "$". On failure `error` gets
// "'TEXT' is not a valid integer value".
bool TextToInteger(const std::string& text, long long minValue, long long maxValue, long long& value,
                   std::string& error);

}  // namespace vexa
