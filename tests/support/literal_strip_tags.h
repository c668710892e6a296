// Tag stripping done literally over the library's own extractBetween and replaceText:
// collect the pieces of extractBetween(text, "<", ">"), then delete every "<" + piece + ">"
// one piece after another on the changing text. It costs (number of pieces) x (text length)
// and is the yardstick for the fast stripTags.
#pragma once

#include <string_view>

#include "text/extract.h"
#include "text/text.h"

namespace tessaly::testing {

inline Text literalStripTags(std::string_view input) {
    TextList pieces;
    extractBetween(input, "<", ">", pieces);
    Text text(input);
    for (const Text& piece : pieces) {
        text = replaceText(text, joinTexts("<", piece, ">"), "", true);
    }
    return text;
}

}  // namespace tessaly::testing
