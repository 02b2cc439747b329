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

// The code point of the well-formed UTF-8 sequence at `text[at]` (the shortest form, no
// surrogate, at most U+10FFFF) with its length in `length`, or -1 for anything else.
inline long decodedUtf8(const std::string& text, size_t at, size_t& length) {
    const auto lead = static_cast<unsigned char>(text[at]);
    long cp = 0;
    long least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        return -1;
    }
    if (text.size() - at < length) {
        return -1;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return -1;
        }
        cp = cp * 64 + (next & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return -1;
    }
    return cp;
}

// A non-ASCII character a terminal shows as a glyph: no C1 control, noncharacter, or mark that
// hides or reorders text.
inline bool printableBeyondAscii(long cp) {
    static const long kRefused[][2] = {{0x80, 0x9F},     {0xAD, 0xAD},     {0x61C, 0x61C},
                                       {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F},
                                       {0xFDD0, 0xFDEF}, {0xFEFF, 0xFEFF}};
    for (const auto& range : kRefused) {
        if (cp >= range[0] && cp <= range[1]) {
            return false;
        }
    }
    return cp % 0x10000 < 0xFFFE;
}

// A message fit for a terminal: printable ASCII, printable characters in well-formed UTF-8,
// and line breaks only, and not too long.
inline bool printableMessage(const std::string& text, size_t maxLength, bool lineBreaks) {
    if (text.empty() || text.size() > maxLength) {
        return false;
    }
    size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if ((byte >= 0x20 && byte < 0x7F) || (lineBreaks && byte == '\n')) {
            ++at;
            continue;
        }
        size_t length = 0;
        const long cp = decodedUtf8(text, at, length);
        if (cp < 0 || !printableBeyondAscii(cp)) {
            return false;
        }
        at += length;
    }
    return true;
}

}  // namespace vornic::fuzz
