#include <gtest/gtest.h>

#include <string>

#include "text/Quote.h"

namespace vornic {
namespace {

// What a quoted name looks like: letters of any script as they are, every byte that could move
// the cursor, hide text, reorder it or stand for no character as \xNN, and a cut that falls
// between characters.
TEST(QuoteTest, ShowsLettersAndEscapesWhatCouldHarmATerminalOrMisleadAReader) {
    struct Case {
        const char* why;
        std::string text;
        size_t limit;
        std::string expected;
    };
    const Case cases[] = {
        {"letters of two, three and four bytes",
         "J\xC3\xBCrgen/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x93\x81", 40,
         "J\xC3\xBCrgen/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x93\x81"},
        {"the last code point, and the one before the noncharacters",
         "\xF4\x8F\xBF\xBD\xEF\xBF\xBD", 40, "\xF4\x8F\xBF\xBD\xEF\xBF\xBD"},
        {"C0 controls, DEL; line breaks keep their escapes", "a\x1B[2J\x7F\n\t\r", 40,
         "a\\x1B[2J\\x7F\\n\\t\\r"},
        {"C1 controls", "\xC2\x80\xC2\x9B", 40, "\\xC2\\x80\\xC2\\x9B"},
        {"a lone continuation, a cut-off sequence, a stray lead", "\x80 \xE6\x97 \xFF", 40,
         "\\x80 \\xE6\\x97 \\xFF"},
        {"overlong forms", std::string("\xC0\xAF\xE0\x80\xAF\xF0\x80\x80\xAF"), 40,
         "\\xC0\\xAF\\xE0\\x80\\xAF\\xF0\\x80\\x80\\xAF"},
        {"a surrogate half", "\xED\xA0\x80", 40, "\\xED\\xA0\\x80"},
        {"noncharacters", "\xEF\xB7\x90\xEF\xBF\xBE\xF0\x9F\xBF\xBF", 40,
         "\\xEF\\xB7\\x90\\xEF\\xBF\\xBE\\xF0\\x9F\\xBF\\xBF"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 40, "\\xF4\\x90\\x80\\x80"},
        {"soft hyphen, zero width space, right-to-left mark", "\xC2\xAD\xE2\x80\x8B\xE2\x80\x8F",
         40, "\\xC2\\xAD\\xE2\\x80\\x8B\\xE2\\x80\\x8F"},
        {"line separator, right-to-left override, word joiner, byte order mark",
         "\xE2\x80\xA8\xE2\x80\xAE\xE2\x81\xA0\xEF\xBB\xBF", 80,
         "\\xE2\\x80\\xA8\\xE2\\x80\\xAE\\xE2\\x81\\xA0\\xEF\\xBB\\xBF"},
        {"a cut before a letter that does not fit whole", "ab\xE6\x97\xA5", 4, "ab..."},
        {"a cut right after a letter", "\xC3\xBC\xC3\xBC\xC3\xBC", 4, "\xC3\xBC\xC3\xBC..."},
        {"a cut between escapes of one harmful sequence", "a\xE2\x80\xAE", 9, "a\\xE2\\x80..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(shown(c.text, c.limit), c.expected) << c.why;
    }
}

}  // namespace
}  // namespace vornic
