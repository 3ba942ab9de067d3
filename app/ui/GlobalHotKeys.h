// System-wide hot keys Alt+<letter> on X11.
//
// Each key is grabbed on the root window with the Alt modifier, also with the
// Lock and NumLock variants so that the caps and num lock states do not matter,
// and its presses arrive through a native event filter on Qt's own X
// connection. A key that another program already holds is logged once; the
// remaining registrations still work.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QString>

#include <functional>
#include <vector>

namespace vexa::app {

class TGlobalHotKeys : public QAbstractNativeEventFilter {
 public:
  using THandler = std::function<void(int id)>;

  explicit TGlobalHotKeys(THandler handler);
  ~TGlobalHotKeys() override;
  TGlobalHotKeys(const TGlobalHotKeys&) = delete;
  TGlobalHotKeys& operator=(const TGlobalHotKeys&) = delete;

  // Grabs Alt+`letter` (a Latin letter) under `name`, delivering `id` to the
  // handler. Returns false when the key could not be grabbed (not on X11, or
  // held by another program). A name registered already is left alone.
  bool Register(int id, const QString& name, char letter);
  // Releases every grab (also done by the destructor).
  void ReleaseAll();
  bool IsRegistered(const QString& name) const;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct TRegistration {
    int Id;
    QString Name;
    unsigned KeyCode;
    bool Grabbed;
  };

  unsigned NumLockMask() const;
  std::vector<unsigned> ModifierVariants() const;

  THandler Handler_;
  std::vector<TRegistration> Registrations_;
  bool FilterInstalled_ = false;
  unsigned NumLockMask_ = 0;
};

}  // namespace vexa::app
