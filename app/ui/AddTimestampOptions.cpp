#include "ui/AddTimestampOptions.h"

#include "core/Settings.h"

namespace vexa {

TfrmAddTimestampOptions::TfrmAddTimestampOptions(TSettingsFileName iniFileName, QWidget* parent)
    : TOverlayTextOptions({"frmAddTimestampOptions", "Add Time Stamp Options", "grpTimestamptPosition",
                           keys::overlay::TimestampSection, keys::overlay::TimestampBackgroundOn},
                          std::move(iniFileName), parent) {}

void TfrmAddTimestampOptions::LoadFromSettings() {
  TOverlayTextOptions::LoadFromSettings();
  LoadFontDialogFont();
}

}  // namespace vexa
