// Web WHOIS service A's reply handling done literally, the reference for the bounded join:
// every piece of extractBetween, joined one by one.
#pragma once

#include "text/codepage.h"
#include "text/extract.h"
#include "text/text.h"

namespace tessaly::testing {

inline Text literalServiceAResult(const Bytes& body) {
    const Text text = utf8ToLocalText(body);
    TextList pieces;
    extractBetween(text, "<pre>", "</pre>", pieces);
    Text joined;
    for (const Text& piece : pieces) {
        joined = joinTexts(joined, piece);
    }
    joined = replaceText(joined, "\n", "\r\n", true);
    return replaceText(joined, "<br />", "", true);
}

}  // namespace tessaly::testing
