// extractBetween with arbitrary markers, empty ones included: no crash, no endless loop,
// and the same pieces as the step-by-step extraction.
//
// Input: length of the start marker, length of the end marker, the markers, the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "text/extract.h"

using namespace tessaly;

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, std::string_view start,
                       std::string_view end) {
    using tessaly::testing::showBytes;
    std::fprintf(stderr, "%s\ntext %s\nstart %s\nend %s\n", what, showBytes(text).c_str(),
                 showBytes(start).c_str(), showBytes(end).c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t startLength = std::min<std::size_t>(data[0] % 6, rest.size());
    const std::string_view startMarker = rest.substr(0, startLength);
    rest.remove_prefix(startLength);
    const std::size_t endLength = std::min<std::size_t>(data[1] % 6, rest.size());
    const std::string_view endMarker = rest.substr(0, endLength);
    rest.remove_prefix(endLength);
    const std::string_view text = rest;

    TextList pieces = {"left over", "from before"};
    const Text result = extractBetween(text, startMarker, endMarker, pieces);

    if (pieces.empty() ? result != unknownText : result != pieces.front()) {
        fail("result is neither the first piece nor the unknown text", text, startMarker,
             endMarker);
    }
    if ((startMarker.empty() || endMarker.empty()) && !pieces.empty()) {
        fail("an empty marker yielded pieces", text, startMarker, endMarker);
    }
    for (const Text& piece : pieces) {
        if (piece.size() > text.size() || text.find(piece) == std::string_view::npos) {
            fail("a piece that the text does not hold", text, startMarker, endMarker);
        }
    }
    // The step-by-step extraction scans to the end once per start marker.
    if (text.size() <= 2048) {
        TextList naive;
        const Text naiveResult =
            tessaly::testing::naiveExtractBetween(text, startMarker, endMarker, naive);
        if (naive != pieces || naiveResult != result) {
            fail("pieces differ from the step-by-step extraction", text, startMarker, endMarker);
        }
    }
    return 0;
}
