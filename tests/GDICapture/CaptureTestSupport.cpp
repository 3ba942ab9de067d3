#include "CaptureTestSupport.h"

#include <X11/Xlib.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <dirent.h>
#include <pulse/simple.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavutil/time.h>
}

#include "Base/ProgramFormats.h"

namespace vexa::test {

namespace {

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

}  // namespace

bool HaveDisplay() {
  if (!EnvSet("DISPLAY")) return false;
  // One connection stays open for the whole run: an X server resets when its
  // last client leaves, and refuses connections while it does.
  static Display* const keeper = XOpenDisplay(nullptr);
  return keeper != nullptr;
}
bool HaveSound() { return EnvSet("PULSE_SERVER"); }

// --- capture input --------------------------------------------------------

int TCaptureInput::Open(const std::string& url, const std::map<std::string, std::string>& options) {
  Close();
  AVDictionary* dict = nullptr;
  for (const auto& [k, v] : options) av_dict_set(&dict, k.c_str(), v.c_str(), 0);
  const int ret = OpenProgramInput(&S_, CaptureInputFormat(), url, &dict);
  av_dict_free(&dict);
  return ret;
}

void TCaptureInput::Close() { CloseProgramInput(&S_, CaptureInputFormat()); }

TCaptureContext& TCaptureInput::Context() const {
  return *static_cast<TCaptureOptions*>(S_->priv_data)->Context;
}

int TCaptureInput::Read(AVPacket* pkt) { return ReadProgramInput(S_, CaptureInputFormat(), pkt); }

std::vector<::vexa::TPacketPtr> TCaptureInput::ReadUntil(
    const std::function<bool(const std::vector<::vexa::TPacketPtr>&)>& stop, int maxMs) {
  std::vector<::vexa::TPacketPtr> packets;
  const int64_t end = av_gettime() + static_cast<int64_t>(maxMs) * 1000;
  while (av_gettime() < end) {
    ::vexa::TPacketPtr pkt(av_packet_alloc());
    const int ret = Read(pkt.get());
    if (ret == AVERROR(EAGAIN)) {
      if (S_->flags & AVFMT_FLAG_NONBLOCK) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      continue;
    }
    if (ret < 0) break;
    packets.push_back(std::move(pkt));
    if (stop(packets)) break;
  }
  return packets;
}

std::vector<::vexa::TPacketPtr> TCaptureInput::ReadFor(int ms) {
  return ReadUntil([](const std::vector<::vexa::TPacketPtr>&) { return false; }, ms);
}

std::vector<const AVPacket*> OfStream(const std::vector<::vexa::TPacketPtr>& packets, int index) {
  std::vector<const AVPacket*> out;
  for (const ::vexa::TPacketPtr& p : packets)
    if (p->stream_index == index) out.push_back(p.get());
  return out;
}

uint32_t PixelAt(const AVPacket* frame, int width, int x, int y) {
  const uint8_t* p = frame->data + (static_cast<size_t>(y) * width + x) * 4;
  return (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
}

// --- X test windows -------------------------------------------------------

TTestWindow::TTestWindow(int x, int y, int width, int height, uint32_t rgb, XWindowId parent)
    : Width_(width), Height_(height) {
  Display_ = XOpenDisplay(nullptr);
  if (!Display_) throw std::runtime_error("no X display");
  const int screen = DefaultScreen(Display_);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;  // placed exactly where asked
  attrs.background_pixel = Pixel(rgb);
  Window_ = XCreateWindow(Display_, parent ? parent : RootWindow(Display_, screen), x, y, width, height, 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  Back_ = XCreatePixmap(Display_, Window_, width, height, DefaultDepth(Display_, screen));
  Gc_ = XCreateGC(Display_, Window_, 0, nullptr);
  XMapRaised(Display_, Window_);
  Fill(rgb);
}

TTestWindow::~TTestWindow() {
  XFreeGC(Display_, Gc_);
  XFreePixmap(Display_, Back_);
  XDestroyWindow(Display_, Window_);
  XCloseDisplay(Display_);
}

unsigned long TTestWindow::Pixel(uint32_t rgb) {
  XColor c{};
  c.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 257);
  c.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 257);
  c.blue = static_cast<unsigned short>((rgb & 0xff) * 257);
  c.flags = DoRed | DoGreen | DoBlue;
  XAllocColor(Display_, DefaultColormap(Display_, DefaultScreen(Display_)), &c);
  return c.pixel;
}

void TTestWindow::Present() {
  XCopyArea(Display_, Back_, Window_, Gc_, 0, 0, Width_, Height_, 0, 0);
  Sync();
}

void TTestWindow::Fill(uint32_t rgb) {
  XSetForeground(Display_, Gc_, Pixel(rgb));
  XFillRectangle(Display_, Back_, Gc_, 0, 0, Width_, Height_);
  XSetWindowBackground(Display_, Window_, Pixel(rgb));
  Present();
}

void TTestWindow::DrawCounter(int value) {
  XSetForeground(Display_, Gc_, Pixel(0x000080));
  XFillRectangle(Display_, Back_, Gc_, 0, 0, Width_, Height_);
  XSetForeground(Display_, Gc_, Pixel(kMagenta));
  XDrawRectangle(Display_, Back_, Gc_, 0, 0, Width_ - 1, Height_ - 1);
  for (int i = 0; i < 8; ++i) {
    XSetForeground(Display_, Gc_, Pixel((value >> i) & 1 ? kWhite : kGrey));
    XFillRectangle(Display_, Back_, Gc_, 8 + 20 * i, 8, 16, 16);
  }
  Present();
}

void TTestWindow::Move(int x, int y) {
  XMoveWindow(Display_, Window_, x, y);
  Sync();
}

void TTestWindow::SetSolidCursor(uint32_t rgb, int size, int hot) {
  Pixmap bits = XCreatePixmap(Display_, Window_, size, size, 1);
  GC gc = XCreateGC(Display_, bits, 0, nullptr);
  XSetForeground(Display_, gc, 1);
  XFillRectangle(Display_, bits, gc, 0, 0, size, size);
  XColor fg{}, bg{};
  fg.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 257);
  fg.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 257);
  fg.blue = static_cast<unsigned short>((rgb & 0xff) * 257);
  Cursor cursor = XCreatePixmapCursor(Display_, bits, bits, &fg, &bg, hot, hot);
  XDefineCursor(Display_, Window_, cursor);
  XFreeCursor(Display_, cursor);
  XFreeGC(Display_, gc);
  XFreePixmap(Display_, bits);
  Sync();
}

void TTestWindow::Sync() { XSync(Display_, False); }

int ReadCounter(const AVPacket* frame, int frameWidth, int ox, int oy) {
  int value = 0;
  for (int i = 0; i < 8; ++i) {
    const uint32_t p = PixelAt(frame, frameWidth, ox + 16 + 20 * i, oy + 16);
    if (p == TTestWindow::kWhite)
      value |= 1 << i;
    else if (p != TTestWindow::kGrey)
      return -1;
  }
  return value;
}

void MovePointer(int x, int y) {
  Display* d = XOpenDisplay(nullptr);

  XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
  XSync(d, False);
  for (int i = 0; i < 100; ++i) {
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    if (rx == x && ry == y) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  XCloseDisplay(d);
}

void StallDisplay(int ms) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  XGrabServer(d);
  XSync(d, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  XUngrabServer(d);
  XSync(d, False);
  XCloseDisplay(d);
}

void ScreenSize(int& width, int& height) {
  Display* d = XOpenDisplay(nullptr);
  width = DisplayWidth(d, DefaultScreen(d));
  height = DisplayHeight(d, DefaultScreen(d));
  XCloseDisplay(d);
}

int ThreadCount() {
  DIR* dir = opendir("/proc/self/task");
  int n = 0;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') ++n;
  closedir(dir);
  return n;
}

// --- sound ------------------------------------------------------------------

TTonePlayer::TTonePlayer(int rate) : Rate_(rate) {
  Thread_ = std::thread([this] { Run(); });
  // Wait until the stream plays (or failed).
  for (int i = 0; i < 300 && !Ok_.load() && !Quit_.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TTonePlayer::~TTonePlayer() {
  Quit_.store(true);
  Changed_.notify_all();
  Thread_.join();
}

void TTonePlayer::Run() {
  pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<uint32_t>(Rate_), 2};
  pa_buffer_attr attr;
  std::memset(&attr, 0xff, sizeof attr);
  attr.tlength = static_cast<uint32_t>(Rate_ * 4 * 30 / 1000);  // 30 ms ahead
  const char* sink = std::getenv("VEXA_TEST_SINK");
  int error = 0;
  pa_simple* s = pa_simple_new(nullptr, "vexa-test", PA_STREAM_PLAYBACK, sink, "tone", &spec, nullptr,
                               &attr, &error);
  if (!s) {
    Quit_.store(true);
    return;
  }
  const int chunk = Rate_ / 100;  // 10 ms
  std::vector<int16_t> pcm(static_cast<size_t>(chunk) * 2);
  double phase = 0;
  bool first = true;
  const int64_t started = av_gettime();
  while (!Quit_.load()) {
    double hz = 0;
    bool beep = false;
    {
      std::lock_guard<std::mutex> guard(Lock_);
      if (BeepPending_) {
        beep = true;
        BeepPending_ = false;
      }
      if (RemainingFrames_ != 0) hz = Hz_;
    }
    if (beep) {
      const pa_usec_t latency = pa_simple_get_latency(s, &error);
      std::lock_guard<std::mutex> guard(Lock_);
      BeepTime_ = av_gettime() + static_cast<int64_t>(latency);
      BeepDone_ = true;
      Changed_.notify_all();
    }
    for (int i = 0; i < chunk; ++i) {
      int16_t v = 0;
      if (hz > 0) {
        v = static_cast<int16_t>(12000 * std::sin(phase));
        phase += 2 * M_PI * hz / Rate_;
      }
      pcm[2 * i] = pcm[2 * i + 1] = v;
    }
    {
      std::lock_guard<std::mutex> guard(Lock_);
      if (RemainingFrames_ > 0) RemainingFrames_ = std::max<int64_t>(RemainingFrames_ - chunk, 0);
    }
    if (pa_simple_write(s, pcm.data(), pcm.size() * sizeof(int16_t), &error) < 0) break;
    // Ready once the sink's latency has settled to what the stream asked.
    if (first && (pa_simple_get_latency(s, &error) < 80000 || av_gettime() - started > 3000000)) {
      Ok_.store(true);
      first = false;
    }
  }
  pa_simple_free(s);
}

int64_t TTonePlayer::Beep(double hz, int ms) {
  std::unique_lock<std::mutex> lock(Lock_);
  Hz_ = hz;
  RemainingFrames_ = static_cast<int64_t>(Rate_) * ms / 1000;
  BeepPending_ = true;
  BeepDone_ = false;
  Changed_.wait_for(lock, std::chrono::seconds(2), [this] { return BeepDone_; });
  return BeepTime_;
}

void TTonePlayer::Tone(double hz) {
  std::lock_guard<std::mutex> guard(Lock_);
  Hz_ = hz;
  RemainingFrames_ = -1;
}

void TTonePlayer::Silence() {
  std::lock_guard<std::mutex> guard(Lock_);
  RemainingFrames_ = 0;
}

TTonePlayer& SharedPlayer() {
  static TTonePlayer player;
  return player;
}

std::vector<int16_t> LeftChannel(const std::vector<const AVPacket*>& packets) {
  std::vector<int16_t> out;
  for (const AVPacket* p : packets) {
    const int16_t* s = reinterpret_cast<const int16_t*>(p->data);
    for (int i = 0; i + 1 < p->size / 2; i += 2) out.push_back(s[i]);
  }
  return out;
}

double MeasureFrequency(const std::vector<int16_t>& samples, int rate) {
  int first = -1, last = -1, crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (first < 0) first = static_cast<int>(i);
      last = static_cast<int>(i);
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return static_cast<double>(crossings - 1) * rate / (last - first);
}

}  // namespace vexa::test
