#pragma once
// Checks shared by the fuzz targets of the command line: a broken guarantee stops the run with
// the guarantee's words, so that a crash report says what was promised.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vornic::fuzz {

inline void require(bool condition, const char* guarantee) {
    if (!condition) {
        std::fprintf(stderr, "guarantee broken: %s\n", guarantee);
        std::abort();
    }
}

// A message fit for a terminal: printable ASCII and line breaks only, and not too long.
inline bool printableMessage(const std::string& text, size_t maxLength, bool lineBreaks) {
    if (text.empty() || text.size() > maxLength) {
        return false;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte >= 0x7F) && !(lineBreaks && byte == '\n')) {
            return false;
        }
    }
    return true;
}

}  // namespace vornic::fuzz
