// X connections of the capture input: each owner opens its own, and X errors
// on them are recorded instead of ending the process.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace vexa {

struct TDisplayDeleter {
  void operator()(Display* d) const;
};
using TDisplayPtr = std::unique_ptr<Display, TDisplayDeleter>;

// Opens a connection to $DISPLAY whose errors are trapped. nullptr on failure
// (errno tells why). Losing the connection (the server ends) does not end
// the process: the connection is marked lost, and from then on its users
// must make no Xlib call on it (DisplayLost); the deleter knows.
TDisplayPtr OpenCaptureDisplay();

// Whether the connection of `d` (opened with OpenCaptureDisplay) is lost.
bool DisplayLost(Display* d);

// Collects the X errors of one connection from construction on. Error()
// syncs with the server first, so it covers every request made so far.
class TXErrorTrap {
 public:
  explicit TXErrorTrap(Display* d);
  ~TXErrorTrap();
  TXErrorTrap(const TXErrorTrap&) = delete;
  TXErrorTrap& operator=(const TXErrorTrap&) = delete;

  // The first X error code since construction (after an XSync), 0 = none.
  int Error();

 private:
  Display* Display_;
};

// The latest X error of a connection opened with OpenCaptureDisplay, for
// calls that report failure synchronously (requests with a reply): clear it,
// make the call, and read it when the call failed. 0 = none.
void ClearLastXError(Display* d);
int LastXError(Display* d);

// The server's text for an X error code.
std::string XErrorText(Display* d, int code);

// A rectangle in root coordinates.
struct TXRect {
  int X = 0, Y = 0, Width = 0, Height = 0;
};

// The window's own area (client) or its top-level frame, the ancestor whose
// parent is the root (window area), in root coordinates. Returns the X error
// code, 0 on success.
int WindowRect(Display* d, Window w, bool client, TXRect& rect);

// The ancestor of `w` whose parent is the root (w itself for a top-level
// window). Returns the X error code, 0 on success.
int TopLevelWindow(Display* d, Window w, Window& top);

}  // namespace vexa
