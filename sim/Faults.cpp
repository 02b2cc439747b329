#include "sim/Faults.h"

#include "text/Number.h"

namespace vornic::sim {

bool parseNumber(std::string_view text, uint64_t max, uint64_t& value) {
    bool negative = false;
    return readWholeNumber(text, false, max, negative, value);
}

bool addFault(std::string_view text, FaultPlan& plan, std::string& error) {
    const size_t eq = text.find('=');
    const std::string_view name = text.substr(0, eq);
    const std::string_view arg =
        eq == std::string_view::npos ? std::string_view{} : text.substr(eq + 1);
    const bool hasArg = eq != std::string_view::npos;
    const auto bad = [&](std::string_view why) {
        error = "bad fault \"" + std::string(text) + "\": " + std::string(why);
        return false;
    };

    if (name == "silent" || name == "garbage" || name == "split") {
        if (hasArg) {
            return bad("takes no value");
        }
        (name == "silent" ? plan.silent : name == "garbage" ? plan.garbage : plan.split) = true;
        return true;
    }
    uint64_t v = 0;
    if (name == "no-reply" || name == "truncate") {
        if (!hasArg || !parseNumber(arg, 0xFF, v)) {
            return bad("expected a request code from 0 to 255 (or 0x00 to 0xFF)");
        }
        (name == "no-reply" ? plan.noReply : plan.truncate)[v] = true;
        return true;
    }
    if (name == "hangup-after") {
        if (!hasArg || !parseNumber(arg, 0x7FFFFFFF, v)) {
            return bad("expected a number of requests");
        }
        plan.hangupAfter = static_cast<int64_t>(v);
        return true;
    }
    if (name == "delay") {
        if (!hasArg || !parseNumber(arg, kMaxFaultDelayMs, v)) {
            return bad("expected milliseconds from 0 to 60000");
        }
        plan.delayMs = static_cast<uint32_t>(v);
        return true;
    }
    return bad(
        "unknown fault; known: silent, garbage, split, no-reply=CODE, truncate=CODE, "
        "hangup-after=N, delay=MS");
}

}  // namespace vornic::sim
