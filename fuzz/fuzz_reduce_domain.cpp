// reduceDomain and whoisServerFor on any typed domain: no crash, the same reduction as the
// step-by-step scans give, a server only for a label that is exactly one of the table's
// keys, and a query line of the reduced name followed by LF CR.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "text/text.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"

using namespace tessaly;
using tessaly::testing::naiveReplaceText;
using tessaly::testing::naiveSplitText;
using tessaly::testing::showBytes;

namespace {

[[noreturn]] void fail(const char* what, std::string_view typed) {
    std::fprintf(stderr, "%s\ntyped %s\n", what, showBytes(typed).c_str());
    std::abort();
}

// The reduction written out with the step-by-step scans.
ReducedDomain referenceReduce(std::string_view typed) {
    constexpr std::array<std::string_view, 5> secondLevel = {"com", "net", "org", "edu", "co"};
    ReducedDomain result;
    result.domain = naiveReplaceText(typed, "http://", "", false);
    const TextList labels = naiveSplitText(result.domain, ".");
    const std::size_t n = labels.size();
    if (n < 2) {
        return result;
    }
    result.reducible = true;
    result.topLevel = labels[n - 1];
    bool three = false;
    for (std::string_view label : secondLevel) {
        three = three || (n >= 3 && labels[n - 2] == label);
    }
    result.domain = three ? labels[n - 3] + "." + labels[n - 2] + "." + labels[n - 1]
                          : labels[n - 2] + "." + labels[n - 1];
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view typed(reinterpret_cast<const char*>(data), size);

    const ReducedDomain reduced = reduceDomain(typed);
    const ReducedDomain reference = referenceReduce(typed);
    if (reduced.reducible != reference.reducible || reduced.domain != reference.domain ||
        reduced.topLevel != reference.topLevel) {
        fail("reduceDomain differs from the step-by-step reduction", typed);
    }

    // A server only for a label that is one of the keys: asking again with the label the
    // server was found for gives the same server, and no server name is empty of letters.
    for (std::string_view label : {std::string_view(reduced.topLevel), typed}) {
        const Text host = whoisServerFor(label);
        if (!host.empty() &&
            (label.empty() || label.find('.') != std::string_view::npos ||
             host.find_first_of(" \r\n\t") != Text::npos || whoisServerFor(label) != host)) {
            fail("whoisServerFor gave a server for a label that is no key", label);
        }
    }

    const Text line = joinTexts(reduced.domain, charFromCode(10), charFromCode(13));
    if (line.size() != reduced.domain.size() + 2 ||
        line.compare(0, reduced.domain.size(), reduced.domain) != 0) {
        fail("query line", typed);
    }
    return 0;
}
