#pragma once
// Backup files and restore plans, as the command line and the windows share them.

#include "cli/Format.h"
#include "cli/Operations.h"
#include "settings/Backup.h"

namespace vornic::cli {

using settings::checkAgainstController;
using settings::checkSameController;
using settings::checkWriteTarget;
using settings::Difference;
using settings::differences;
using settings::fieldJson;
using settings::isoDateNow;
using settings::kMaxBackupFileBytes;
using settings::makeBackup;
using settings::parseBackupText;
using settings::readFileText;
using settings::restorePlan;
using settings::SettingsImage;
using settings::wholeImage;
using settings::writeFileText;

}  // namespace vornic::cli
