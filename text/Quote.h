#pragma once
// Quoting what came from outside (a file, the command line, a device path) inside a message,
// without letting its bytes reach a terminal raw.
//
// Guarantee for hostile input: `shown` returns at most limit + 3 characters, all printable ASCII;
// nothing in its input is passed through unescaped.

#include <cstddef>
#include <string>
#include <string_view>

namespace vornic {

// `text` made fit to quote: bytes outside printable ASCII as \xNN (\n, \t, \r as such), and at
// most `limit` characters of the result kept, "..." marking a cut.
std::string shown(std::string_view text, size_t limit = 40);

}  // namespace vornic
