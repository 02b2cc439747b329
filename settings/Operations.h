#pragma once
// The operations of iTelescopeControl by name, for `vornic-cli do` and the restore plans: parsing
// "name arg arg ...", calling the operation, and knowing which report it provokes so the caller
// can wait for it.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "controller/Contract.h"

namespace vornic::settings {

struct OperationInfo {
    const char* name;
    int argCount;
    const char* arguments;  // for the usage text
};

// Every operation that `do` accepts, in the interface's order.
const std::vector<OperationInfo>& operationTable();
const OperationInfo* findOperation(const std::string& name);

struct OpCall {
    const OperationInfo* info = nullptr;
    uint32_t args[5] = {};  // negative numbers are kept in two's complement
};

// A call of the named operation; arguments beyond the five a call holds are dropped.
[[nodiscard]] OpCall makeCall(const char* name, std::initializer_list<uint32_t> args);

// The axis bits of a per-axis selector, indexed by axis (0 RA, 1 Dec).
inline constexpr uint8_t kAxisMask[2] = {axis::kRa, axis::kDe};

// Reads a number: decimal (a leading "-" allowed) or 0x hexadecimal, within -2^31 .. 2^32-1.
[[nodiscard]] std::optional<uint32_t> parseNumber(const std::string& text);

// The same as a signed value: "-5" gives -5, "0xFFFFFFFF" gives 4294967295.
[[nodiscard]] std::optional<int64_t> parseSignedNumber(const std::string& text);

// Whether argument `index` of the operation takes `value` (the width of its field in the request,
// or the codes with a meaning); if not, says which values it takes.
[[nodiscard]] bool checkArgument(const OperationInfo& info, int index, int64_t value,
                                 std::string& error);

// Cuts the `do` arguments into calls, each argument checked with checkArgument.
//
// Guarantees for hostile input (asserted by the command-line fuzz target): never throws; on
// success every argument of every call is one its operation takes; on failure the message names
// the word at fault, quoted short and printable.
//
// Cuts the `do` arguments into calls. Each argument may hold a whole call ("setMaxSpeeds 630 800")
// or the calls may be spread over several arguments; a name starts a new call. On a usage error
// returns false and explains it in `error`.
[[nodiscard]] bool parseOperations(const std::vector<std::string>& words,
                                   std::vector<OpCall>& calls, std::string& error);

void invoke(iTelescopeControl& control, const OpCall& call);

// What to wait for after a call has been queued.
struct Expectation {
    enum class Kind { Settle, Status, Voltage, Settings };
    Kind kind = Kind::Settle;
    uint32_t status = 0;        // Kind::Status
    ReportKind reportKind = 0;  // Kind::Settings; a kind-1 wait also ends on kind 3
    const char* what = "";      // for messages: what was awaited
};

// The report `call` provokes at the given feature level; Settle for operations that provoke none.
Expectation expectationFor(const OpCall& call, uint32_t featureLevel);

}  // namespace vornic::settings
