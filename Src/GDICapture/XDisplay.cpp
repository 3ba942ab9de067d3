#include "GDICapture/XDisplay.h"

#include <X11/Xutil.h>

#include <unistd.h>

#include <mutex>
#include <unordered_map>
#include <vector>

namespace vexa {

namespace {

struct TTrapEntry {
  int Depth = 0;  // active traps
  int First = 0;  // first error code while trapping
  int Last = 0;   // latest error code
  bool Lost = false;  // the connection is gone
};

struct TTrapState {
  std::mutex Lock;
  std::unordered_map<Display*, TTrapEntry> Displays;
  XErrorHandler Previous = nullptr;
  XIOErrorHandler PreviousIO = nullptr;
};

TTrapState& Traps() {
  static TTrapState state;
  return state;
}

int TrapHandler(Display* d, XErrorEvent* e) {
  TTrapState& t = Traps();
  XErrorHandler previous = nullptr;
  {
    std::lock_guard<std::mutex> guard(t.Lock);
    auto it = t.Displays.find(d);
    if (it != t.Displays.end()) {
      // Ours: never fatal; the first one of an active trap and the latest kept.
      if (it->second.Depth > 0 && it->second.First == 0) it->second.First = e->error_code;
      it->second.Last = e->error_code;
      return 0;
    }
    previous = t.Previous;
  }
  return previous ? previous(d, e) : 0;
}

// Marks `d` lost when it is ours; false for other connections.
bool MarkLost(Display* d) {
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(d);
  if (it == t.Displays.end()) return false;
  it->second.Lost = true;
  return true;
}

// A lost connection of ours is not the end of the process: its owner makes
// no more calls on it (Xlib would wait forever in them) and ends what it
// does with it.
int IOHandler(Display* d) {
  if (MarkLost(d)) return 0;
  XIOErrorHandler previous = nullptr;
  {
    std::lock_guard<std::mutex> guard(Traps().Lock);
    previous = Traps().PreviousIO;
  }
  return previous ? previous(d) : 0;
}

void IOExitHandler(Display* d, void*) { MarkLost(d); }

void InstallTrapHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XErrorHandler previous = XSetErrorHandler(&TrapHandler);
    XIOErrorHandler previousIO = XSetIOErrorHandler(&IOHandler);
    std::lock_guard<std::mutex> guard(Traps().Lock);
    Traps().Previous = previous;
    Traps().PreviousIO = previousIO;
  });
}

}  // namespace

void TDisplayDeleter::operator()(Display* d) const {
  if (!d) return;
  if (DisplayLost(d)) {
    // Xlib takes no call on a lost connection (each would wait forever),
    // XCloseDisplay included: its socket is closed and the rest is kept.
    static std::mutex keptLock;
    static std::vector<Display*> kept;
    close(ConnectionNumber(d));
    std::lock_guard<std::mutex> guard(keptLock);
    kept.push_back(d);
  } else {
    XCloseDisplay(d);
  }
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  t.Displays.erase(d);
}

TDisplayPtr OpenCaptureDisplay() {
  InstallTrapHandler();
  Display* d = XOpenDisplay(nullptr);
  if (!d) return nullptr;
  {
    TTrapState& t = Traps();
    std::lock_guard<std::mutex> guard(t.Lock);
    t.Displays[d] = TTrapEntry{};
  }
  XSetIOErrorExitHandler(d, &IOExitHandler, nullptr);
  return TDisplayPtr(d);
}

bool DisplayLost(Display* d) {
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(d);
  return it != t.Displays.end() && it->second.Lost;
}

TXErrorTrap::TXErrorTrap(Display* d) : Display_(d) {
  if (!DisplayLost(Display_)) XSync(Display_, False);  // errors of earlier requests are not ours
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  TTrapEntry& e = t.Displays[Display_];
  if (e.Depth++ == 0) e.First = 0;
}

TXErrorTrap::~TXErrorTrap() {
  if (!DisplayLost(Display_)) XSync(Display_, False);
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(Display_);
  if (it != t.Displays.end() && it->second.Depth > 0) --it->second.Depth;
}

int TXErrorTrap::Error() {
  if (DisplayLost(Display_)) return BadImplementation;
  XSync(Display_, False);
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(Display_);
  return it == t.Displays.end() ? 0 : it->second.First;
}

void ClearLastXError(Display* d) {
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(d);
  if (it != t.Displays.end()) it->second.Last = 0;
}

int LastXError(Display* d) {
  TTrapState& t = Traps();
  std::lock_guard<std::mutex> guard(t.Lock);
  auto it = t.Displays.find(d);
  return it == t.Displays.end() ? 0 : it->second.Last;
}

std::string XErrorText(Display* d, int code) {
  char buf[256] = {0};
  XGetErrorText(d, code, buf, sizeof buf);
  return buf;
}

int TopLevelWindow(Display* d, Window w, Window& top) {
  TXErrorTrap trap(d);
  const Window root = DefaultRootWindow(d);
  top = w;
  while (top != root) {
    Window r = 0, parent = 0;
    Window* children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, top, &r, &parent, &children, &n)) {
      const int e = trap.Error();
      return e ? e : BadWindow;
    }
    if (children) XFree(children);
    if (parent == root || parent == 0) break;
    top = parent;
  }
  return trap.Error();
}

int WindowRect(Display* d, Window w, bool client, TXRect& rect) {
  TXErrorTrap trap(d);
  const Window root = DefaultRootWindow(d);
  Window target = w;
  if (!client) {
    const int e = TopLevelWindow(d, w, target);
    if (e) return e;
  }
  Window r = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  if (!XGetGeometry(d, target, &r, &x, &y, &width, &height, &border, &depth)) {
    const int e = trap.Error();
    return e ? e : BadDrawable;
  }
  Window child = 0;
  int rx = 0, ry = 0;
  if (!XTranslateCoordinates(d, target, root, 0, 0, &rx, &ry, &child)) {
    const int e = trap.Error();
    return e ? e : BadWindow;
  }
  if (client) {
    rect = TXRect{rx, ry, static_cast<int>(width), static_cast<int>(height)};
  } else {
    const int b = static_cast<int>(border);
    rect = TXRect{rx - b, ry - b, static_cast<int>(width) + 2 * b, static_cast<int>(height) + 2 * b};
  }
  return trap.Error();
}

}  // namespace vexa
