#pragma once
// The operations by name, as the command line's `do` and the restore plans share them.

#include "settings/Operations.h"

namespace vornic::cli {

using settings::checkArgument;
using settings::Expectation;
using settings::expectationFor;
using settings::findOperation;
using settings::invoke;
using settings::kAxisMask;
using settings::makeCall;
using settings::OpCall;
using settings::OperationInfo;
using settings::operationTable;
using settings::parseNumber;
using settings::parseOperations;
using settings::parseSignedNumber;

}  // namespace vornic::cli
