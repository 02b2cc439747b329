#include "sim/FileText.h"

#include <set>
#include <vector>

// Quoting and JSON error text: plain text work that every build has. The file access itself is
// in FileAccess.cpp, which needs POSIX.

namespace vornic::sim {

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

bool parseJsonOnce(std::string_view text, nlohmann::ordered_json& out, std::string& duplicate,
                   std::string& error) {
    using Json = nlohmann::ordered_json;
    struct Open {
        bool object = false;
        std::set<std::string> keys;
        std::string key;  // the key whose value is being read
    };
    std::vector<Open> open;
    duplicate.clear();
    auto watch = [&](int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start:
                open.push_back({event == Json::parse_event_t::object_start, {}, {}});
                break;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                if (!open.empty()) {
                    open.pop_back();
                }
                break;
            case Json::parse_event_t::key:
                if (!open.empty() && parsed.is_string()) {
                    Open& here = open.back();
                    here.key = parsed.get<std::string>();
                    if (!here.keys.insert(here.key).second && duplicate.empty()) {
                        for (const Open& level : open) {
                            if (level.object) {
                                duplicate += (duplicate.empty() ? "" : ".") + level.key;
                            }
                        }
                    }
                }
                break;
            case Json::parse_event_t::value:
                break;
        }
        return true;
    };
    try {
        out = Json::parse(text.begin(), text.end(), watch);
    } catch (const Json::exception& e) {
        error = describeJsonError(text, e);
        return false;
    }
    return duplicate.empty();
}

std::string describeJsonError(std::string_view text, const nlohmann::json::exception& e) {
    const std::string what = e.what();
    const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&e);
    if (parse == nullptr) {
        // The parser takes numbers of any length; the only other failure is one too large.
        return "not valid JSON: a number is too large";
    }
    // Line and column of the byte the parser stopped at (it counts from 1).
    size_t line = 1;
    size_t column = 1;
    const size_t stop = parse->byte == 0 ? 0 : parse->byte - 1;
    for (size_t i = 0; i < stop && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    std::string expected;
    const size_t expectedAt = what.find("; expected ");
    if (what.find("unexpected end of input") != std::string::npos && stop >= text.size()) {
        expected = "the text ends before the JSON is complete";
    } else if (expectedAt != std::string::npos) {
        expected = "expected " + shown(std::string_view(what).substr(expectedAt + 11), 60);
    } else if (what.find("invalid string") != std::string::npos) {
        expected = "a text in quotes is not closed or holds a character that must be escaped";
    } else if (what.find("invalid number") != std::string::npos) {
        expected = "a number is malformed";
    } else {
        expected = "expected a value: a number, a text in quotes, true, false, null, [ or {";
    }
    return "not valid JSON at line " + std::to_string(line) + ", column " + std::to_string(column) +
           ": " + expected;
}

}  // namespace vornic::sim
