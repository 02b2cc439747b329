#include "text/Quote.h"

namespace vornic {

std::string shown(std::string_view text, size_t limit) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        std::string piece;
        if (byte == '\n') {
            piece = "\\n";
        } else if (byte == '\t') {
            piece = "\\t";
        } else if (byte == '\r') {
            piece = "\\r";
        } else if (byte < 0x20 || byte >= 0x7F) {
            piece = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
        } else {
            piece = std::string(1, c);
        }
        if (out.size() + piece.size() > limit) {
            return out + "...";
        }
        out += piece;
    }
    return out;
}

}  // namespace vornic
