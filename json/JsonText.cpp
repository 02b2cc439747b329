#include "json/JsonText.h"

#include <algorithm>
#include <set>
#include <vector>

#include "text/Quote.h"

namespace vornic {

// Nesting depth of the JSON text, found without parsing it, so that no input can make the parser
// recurse without bound.
int jsonNestingDepth(std::string_view text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
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

}  // namespace vornic
