// Every text operation on fuzz input: no crash, and the character-stepping scans agree
// with the one-character-at-a-time loops.
//
// Input: flags, start, length of what, length of the replacement, then what, the
// replacement and the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "text/text.h"

using namespace tessaly;
using tessaly::testing::naiveFindText;
using tessaly::testing::naiveMatchesAt;
using tessaly::testing::naiveReplaceText;
using tessaly::testing::naiveSplitText;
using tessaly::testing::showBytes;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, std::string_view needle) {
    std::fprintf(stderr, "%s\ntext %s\nwhat %s\n", what, showBytes(text).c_str(),
                 showBytes(needle).c_str());
    std::abort();
}

void checkFind(std::string_view text, std::string_view what, long start, bool ignoreCase) {
    const long p = findText(text, what, start, ignoreCase);
    if (p != -1) {
        const long first = start < 1 ? 1 : start;
        if (p < first || p + static_cast<long>(what.size()) - 1 > textLength(text) ||
            !naiveMatchesAt(text, static_cast<std::size_t>(p - 1), what, ignoreCase)) {
            fail("findText: position out of range or bytes differ", text, what);
        }
    }
    if (p != naiveFindText(text, what, start, ignoreCase)) {
        fail("findText differs from the character loop", text, what);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::uint8_t flags = data[0];
    const long start = static_cast<long>(data[1] % 16) - 2;  // -2 .. 13
    std::size_t whatLength = data[2] % 9;
    std::size_t replacementLength = data[3] % 5;
    std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
    whatLength = std::min(whatLength, rest.size());
    const std::string_view what = rest.substr(0, whatLength);
    rest.remove_prefix(whatLength);
    replacementLength = std::min(replacementLength, rest.size());
    const std::string_view replacement = rest.substr(0, replacementLength);
    rest.remove_prefix(replacementLength);
    const std::string_view text = rest;

    const bool ignoreCase = flags & 1;
    for (long from : {start, 0L, 1L}) {
        checkFind(text, what, from, ignoreCase);
    }

    const long count = (flags & 2) ? static_cast<long>(flags >> 4) : -1;
    const Text replaced = replaceText(text, what, replacement, !ignoreCase, start, count);
    if (replaced != naiveReplaceText(text, what, replacement, !ignoreCase, start, count)) {
        fail("replaceText differs from the character loop", text, what);
    }
    if (what.empty() && replaced != text) {
        fail("replaceText with an empty old changed the text", text, what);
    }

    const TextList pieces = splitText(text, what);
    if (pieces != naiveSplitText(text, what)) {
        fail("splitText differs from the character loop", text, what);
    }
    if (!what.empty()) {
        // The pieces and delimiters give the text back, less a final delimiter.
        Text joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            joined += (i == 0 ? "" : std::string(what)) + pieces[i];
        }
        if (joined != text && joinTexts(joined, what) != text) {
            fail("splitText pieces do not make up the text", text, what);
        }
    }

    const long length = static_cast<long>(flags);
    const Text mid = midText(text, start, length);
    const Text expectedMid = (start < 1 || start > textLength(text) || length <= 0)
                                 ? Text()
                                 : Text(text.substr(static_cast<std::size_t>(start - 1),
                                                    static_cast<std::size_t>(length)));
    if (mid != expectedMid) {
        fail("midText", text, what);
    }

    if (textLength(text) != static_cast<long>(text.size()) ||
        bytesLength(text) != static_cast<long>(text.size())) {
        fail("length", text, what);
    }
    if (sameText(text, what) != (text == what)) {
        fail("sameText", text, what);
    }
    if (joinTexts(what, replacement, text) !=
        std::string(what) + std::string(replacement) + std::string(text)) {
        fail("joinTexts", text, what);
    }
    if (bytesToText(text) != text.substr(0, text.find('\0'))) {
        fail("bytesToText", text, what);
    }
    if (charFromCode(flags) != std::string(1, static_cast<char>(flags))) {
        fail("charFromCode", text, what);
    }
    const Bytes blank = blankBytes(start);
    if (bytesLength(blank) != (start > 0 ? start : 0) ||
        blank.find_first_not_of('\0') != Bytes::npos) {
        fail("blankBytes", text, what);
    }
    (void)textToNumber(text);
    return 0;
}
