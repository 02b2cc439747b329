#pragma once
// Reading the small JSON files people hand us (the simulator's state file, the command line's
// backups): one reading for both, so that both refuse the same things in the same words.
//
// Guarantees for hostile input (asserted by the fuzz targets that read these files):
// - `jsonNestingDepth` looks at every byte once and never recurses, so it can be asked before the
//   parser, which does recurse.
// - `parseJsonOnce` never throws.
// - `describeJsonError` returns a short, printable message with a line and column, never the
//   parser's own identifiers or the whole offending text.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vornic {

// The deepest nesting of objects and arrays in `text`, brackets inside strings not counted.
int jsonNestingDepth(std::string_view text);

// Parses `text` into `out`, refusing a key given twice in one object (the parser alone would keep
// the last one silently, so a file could say two things and be read as one). False with either
// the syntax error in our words in `error`, or the dotted path of the first repeated key in
// `duplicate` ("settings.maxSpeed"). Never throws.
bool parseJsonOnce(std::string_view text, nlohmann::ordered_json& out, std::string& duplicate,
                   std::string& error);

// A JSON syntax error of `text` in our own words: "line L, column C: expected ...".
std::string describeJsonError(std::string_view text, const nlohmann::json::exception& e);

}  // namespace vornic
