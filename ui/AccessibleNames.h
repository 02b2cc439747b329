#pragma once
// Names that assistive technology (screen readers, UI automation) gives the dialogs' controls:
// built from the control's group and its label, e.g. "RA Max speed", "Dec Run current",
// "RA Reverse rotation", "Move north". Toolkit independent; every backend sets them.

#include <string>

#include "ui/Layout.h"

namespace vornic::ui {

// The accessible name of `control` in `dialog`; "" for controls a user cannot act on.
[[nodiscard]] std::string accessibleName(const DialogLayout& dialog, const ControlLayout& control);

}  // namespace vornic::ui
