#include "text/Quote.h"

#include <cstdint>

namespace vornic {

namespace {

// Code points that are well formed yet must not reach a terminal or a reader as they are: C1
// controls, marks that hide or reorder text, the surrogate halves, and the noncharacters.
bool harmful(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0xAD || cp == 0x061C ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
           (cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE || cp > 0x10FFFF;
}

// The length of the well-formed UTF-8 character of a printable code point at the start of
// `text`, or 0 when its first byte has to be escaped on its own (or, for a whole sequence that
// encodes something harmful, every byte of it one after the other).
size_t printableCharacter(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    uint32_t cp = 0;
    if (lead >= 0xC0 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        length = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    static const uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[length] || harmful(cp)) {
        return 0;
    }
    return length;
}

}  // namespace

std::string shown(std::string_view text, size_t limit) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        std::string piece;
        size_t consumed = 1;
        if (byte == '\n') {
            piece = "\\n";
        } else if (byte == '\t') {
            piece = "\\t";
        } else if (byte == '\r') {
            piece = "\\r";
        } else if (byte >= 0x20 && byte < 0x7F) {
            piece = std::string(1, text[at]);
        } else if (const size_t length = printableCharacter(text.substr(at)); length > 0) {
            piece = std::string(text.substr(at, length));
            consumed = length;
        } else {
            piece = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
        }
        // A character is kept whole or not at all, so a cut never leaves half of one.
        if (out.size() + piece.size() > limit) {
            return out + "...";
        }
        out += piece;
        at += consumed;
    }
    return out;
}

}  // namespace vornic
