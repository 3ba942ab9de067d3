// vexademo: something to record on a desktop without one. Opens a window that
// shows a moving square and a running frame counter, and plays a tone with a
// short beep every second into the default PulseAudio sink.
//
//   vexademo [--seconds N] [--x X --y Y --width W --height H] [--no-sound]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> Stopping{false};

void OnSignal(int) { Stopping = true; }

struct TDemoOptions {
  double Seconds = 0;  // 0 = until stopped
  int X = 0, Y = 0, Width = 640, Height = 480;
  bool Sound = true;
};

bool ParseArgs(int argc, char** argv, TDemoOptions& o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](double& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtod(argv[++i], &end);
      return end && *end == '\0';
    };
    double v = 0;
    if (a == "--seconds" && next(v)) o.Seconds = v;
    else if (a == "--x" && next(v)) o.X = static_cast<int>(v);
    else if (a == "--y" && next(v)) o.Y = static_cast<int>(v);
    else if (a == "--width" && next(v)) o.Width = static_cast<int>(v);
    else if (a == "--height" && next(v)) o.Height = static_cast<int>(v);
    else if (a == "--no-sound") o.Sound = false;
    else {
      std::fprintf(stderr, "usage: vexademo [--seconds N] [--x X --y Y --width W --height H] [--no-sound]\n");
      return false;
    }
  }
  return o.Width > 0 && o.Height > 0;
}

// A 440 Hz tone, louder (880 Hz) for the first 100 ms of every second.
void PlayTone() {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = 44100;
  spec.channels = 2;
  int error = 0;
  pa_simple* out = pa_simple_new(nullptr, "vexademo", PA_STREAM_PLAYBACK, nullptr, "tone", &spec,
                                 nullptr, nullptr, &error);
  if (!out) {
    std::fprintf(stderr, "vexademo: no sound: %s\n", pa_strerror(error));
    return;
  }
  const int chunk = spec.rate / 20;  // 50 ms
  std::vector<int16_t> samples(static_cast<size_t>(chunk) * 2);
  uint64_t n = 0;
  while (!Stopping) {
    for (int i = 0; i < chunk; ++i, ++n) {
      const bool beep = (n % spec.rate) < spec.rate / 10;
      const double f = beep ? 880.0 : 440.0;
      const double amp = beep ? 12000.0 : 3000.0;
      const auto s = static_cast<int16_t>(amp * std::sin(2.0 * M_PI * f * static_cast<double>(n) / spec.rate));
      samples[2 * i] = samples[2 * i + 1] = s;
    }
    if (pa_simple_write(out, samples.data(), samples.size() * sizeof(int16_t), &error) < 0) {
      std::fprintf(stderr, "vexademo: sound stopped: %s\n", pa_strerror(error));
      break;
    }
  }
  pa_simple_drain(out, nullptr);
  pa_simple_free(out);
}

}  // namespace

int main(int argc, char** argv) {
  TDemoOptions opt;
  if (!ParseArgs(argc, argv, opt)) return 2;
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "vexademo: cannot open display\n");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = BlackPixel(dpy, screen);
  Window win = XCreateWindow(dpy, RootWindow(dpy, screen), opt.X, opt.Y, static_cast<unsigned>(opt.Width),
                             static_cast<unsigned>(opt.Height), 0, CopyFromParent, InputOutput, CopyFromParent,
                             CWOverrideRedirect | CWBackPixel, &attrs);
  XStoreName(dpy, win, "vexademo");
  XMapRaised(dpy, win);
  GC gc = XCreateGC(dpy, win, 0, nullptr);

  std::thread sound;
  if (opt.Sound) sound = std::thread(PlayTone);

  const auto start = std::chrono::steady_clock::now();
  const auto period = std::chrono::microseconds(1000000 / 30);
  auto due = start;
  const int box = std::max(16, std::min(opt.Width, opt.Height) / 6);
  for (long frame = 0; !Stopping; ++frame) {
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (opt.Seconds > 0 && t >= opt.Seconds) break;
    XSetForeground(dpy, gc, 0x202020);
    XFillRectangle(dpy, win, gc, 0, 0, static_cast<unsigned>(opt.Width), static_cast<unsigned>(opt.Height));
    const int span = std::max(1, opt.Width - box);
    const int x = static_cast<int>(frame * 8 % (2 * span));
    XSetForeground(dpy, gc, 0x30c040);
    XFillRectangle(dpy, win, gc, x < span ? x : 2 * span - x, (opt.Height - box) / 2, static_cast<unsigned>(box),
                   static_cast<unsigned>(box));
    char text[64];
    std::snprintf(text, sizeof text, "vexademo frame %ld  %.1f s", frame, t);
    XSetForeground(dpy, gc, 0xffffff);
    XDrawString(dpy, win, gc, 10, 20, text, static_cast<int>(std::strlen(text)));
    XFlush(dpy);
    due += period;
    std::this_thread::sleep_until(due);
  }
  Stopping = true;
  if (sound.joinable()) sound.join();
  XFreeGC(dpy, gc);
  XDestroyWindow(dpy, win);
  XCloseDisplay(dpy);
  return 0;
}
