#pragma once
// Reading a dialog field as an integer, the way the window system does it for every backend.

#include <string>

#include "ui/ControlModel.h"

namespace vornic::ui {

// Blanks around the number are allowed, a minus sign only when `isSigned`, then digits only, and
// the value must fit the 32-bit type. Anything else is not a number (ok false, value 0).
[[nodiscard]] IntRead readFieldNumber(const std::string& text, bool isSigned);

}  // namespace vornic::ui
