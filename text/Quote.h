#pragma once
// Quoting what came from outside (a file, the command line, a device path) inside a message,
// without letting its bytes reach a terminal raw.
//
// Guarantee for hostile input: `shown` returns at most limit + 3 bytes: printable ASCII and
// well-formed UTF-8 of printable characters, never a control (C0, DEL, C1), a malformed or
// overlong sequence, a surrogate, a noncharacter, a code point above U+10FFFF, or a mark that
// hides or reorders text (U+00AD, U+061C, U+200B-200F, U+2028-202E, U+2060-206F, U+FEFF).

#include <cstddef>
#include <string>
#include <string_view>

namespace vornic {

// `text` made fit to quote: printable characters (letters of any script too) as they are, every
// other byte as \xNN (\n, \t, \r as such), and at most `limit` bytes of the result kept, "..."
// marking a cut, which falls between characters, never inside one.
std::string shown(std::string_view text, size_t limit = 40);

}  // namespace vornic
