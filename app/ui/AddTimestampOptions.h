#pragma once
// The timestamp overlay's option dialog: the text dialog's controls on the
// "timestampoptions" section; it also loads the font dialog's font when shown.

#include "ui/AddTextOptions.h"

namespace vexa {

class TfrmAddTimestampOptions : public TOverlayTextOptions {
  Q_OBJECT

 public:
  explicit TfrmAddTimestampOptions(TSettingsFileName iniFileName, QWidget* parent = nullptr);

 protected:
  void LoadFromSettings() override;
};

}  // namespace vexa
