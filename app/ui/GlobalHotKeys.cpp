#include "ui/GlobalHotKeys.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

#include "FFLog/FFLog.h"

namespace vexa::app {

namespace {

struct TX11 {
  Display* Dpy = nullptr;
  xcb_connection_t* Connection = nullptr;
  explicit operator bool() const { return Dpy && Connection; }
};

TX11 QtX11() {
  TX11 x11;
  auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (!app) return x11;
  x11.Dpy = app->display();
  x11.Connection = app->connection();
  return x11;
}

xcb_window_t RootOf(const TX11& x11) { return DefaultRootWindow(x11.Dpy); }

constexpr unsigned kAltMask = XCB_MOD_MASK_1;

}  // namespace

TGlobalHotKeys::TGlobalHotKeys(THandler handler) : Handler_(std::move(handler)) {}

TGlobalHotKeys::~TGlobalHotKeys() { ReleaseAll(); }

unsigned TGlobalHotKeys::NumLockMask() const {
  TX11 x11 = QtX11();
  if (!x11) return 0;
  const KeyCode numLock = XKeysymToKeycode(x11.Dpy, XK_Num_Lock);
  if (numLock == 0) return 0;
  std::unique_ptr<XModifierKeymap, int (*)(XModifierKeymap*)> map(XGetModifierMapping(x11.Dpy),
                                                                  XFreeModifiermap);
  if (!map) return 0;
  for (int modifier = 0; modifier < 8; ++modifier)
    for (int k = 0; k < map->max_keypermod; ++k)
      if (map->modifiermap[modifier * map->max_keypermod + k] == numLock) return 1u << modifier;
  return 0;
}

std::vector<unsigned> TGlobalHotKeys::ModifierVariants() const {
  const unsigned numLock = NumLockMask();
  std::vector<unsigned> variants{kAltMask, kAltMask | XCB_MOD_MASK_LOCK};
  if (numLock != 0) {
    variants.push_back(kAltMask | numLock);
    variants.push_back(kAltMask | numLock | XCB_MOD_MASK_LOCK);
  }
  return variants;
}

bool TGlobalHotKeys::IsRegistered(const QString& name) const {
  for (const TRegistration& registration : Registrations_)
    if (registration.Name == name) return true;
  return false;
}

bool TGlobalHotKeys::Register(int id, const QString& name, char letter) {
  if (IsRegistered(name)) return true;
  TX11 x11 = QtX11();
  if (!x11) {
    LogFmt(this, llWarning, "Hot key %s (Alt+%c) not registered: no X11 display", name.toUtf8().constData(),
           letter);
    return false;
  }
  const KeySym sym = XStringToKeysym(std::string(1, static_cast<char>(std::tolower(letter))).c_str());
  const unsigned keyCode = sym == NoSymbol ? 0 : XKeysymToKeycode(x11.Dpy, sym);
  if (keyCode == 0) {
    LogFmt(this, llWarning, "Hot key %s (Alt+%c) not registered: the key is not on the keyboard",
           name.toUtf8().constData(), letter);
    return false;
  }
  NumLockMask_ = NumLockMask();
  bool heldElsewhere = false;
  for (unsigned modifiers : ModifierVariants()) {
    xcb_void_cookie_t cookie =
        xcb_grab_key_checked(x11.Connection, 1, RootOf(x11), static_cast<uint16_t>(modifiers),
                             static_cast<xcb_keycode_t>(keyCode), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_generic_error_t* error = xcb_request_check(x11.Connection, cookie)) {
      heldElsewhere = true;
      std::free(error);
    }
  }
  if (heldElsewhere) {
    // Take back the variants that did succeed: a key is ours as a whole or not at all.
    for (unsigned modifiers : ModifierVariants())
      xcb_ungrab_key(x11.Connection, static_cast<xcb_keycode_t>(keyCode), RootOf(x11),
                     static_cast<uint16_t>(modifiers));
    xcb_flush(x11.Connection);
    LogFmt(this, llWarning, "Hot key %s (Alt+%c) is already held by another program; use the button instead",
           name.toUtf8().constData(), letter);
  }
  Registrations_.push_back({id, name, keyCode, !heldElsewhere});
  if (!FilterInstalled_ && QCoreApplication::instance()) {
    QCoreApplication::instance()->installNativeEventFilter(this);
    FilterInstalled_ = true;
  }
  return !heldElsewhere;
}

void TGlobalHotKeys::ReleaseAll() {
  TX11 x11 = QtX11();
  if (x11) {
    const std::vector<unsigned> variants = ModifierVariants();
    for (const TRegistration& registration : Registrations_) {
      if (!registration.Grabbed) continue;
      for (unsigned modifiers : variants)
        xcb_ungrab_key(x11.Connection, static_cast<xcb_keycode_t>(registration.KeyCode), RootOf(x11),
                       static_cast<uint16_t>(modifiers));
    }
    xcb_flush(x11.Connection);
  }
  Registrations_.clear();
  if (FilterInstalled_ && QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
  FilterInstalled_ = false;
}

bool TGlobalHotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || !message) return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  const uint8_t type = event->response_type & 0x7f;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  auto* key = static_cast<xcb_key_press_event_t*>(message);
  const unsigned ignored = XCB_MOD_MASK_LOCK | NumLockMask_;
  if ((key->state & ~ignored & 0xff) != kAltMask) return false;
  for (const TRegistration& registration : Registrations_) {
    if (!registration.Grabbed || registration.KeyCode != key->detail) continue;
    if (type == XCB_KEY_PRESS && Handler_) Handler_(registration.Id);
    return true;
  }
  return false;
}

}  // namespace vexa::app
