// The fast stripTags against the literal one-deletion-per-piece algorithm: any difference
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "support/literal_strip_tags.h"
#include "text/extract.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const Text fast = stripTags(input);
    const Text reference = tessaly::testing::literalStripTags(input);
    if (fast != reference) {
        using tessaly::testing::showBytes;
        std::fprintf(stderr,
                     "stripTags differs from the literal deletions\ninput     %s\n"
                     "fast      %s\nreference %s\n",
                     showBytes(input).c_str(), showBytes(fast).c_str(),
                     showBytes(reference).c_str());
        std::abort();
    }
    // The literal algorithm over the step-by-step scans, on inputs small enough for them.
    if (size <= 1024 && tessaly::testing::naiveStripTags(input) != reference) {
        std::fprintf(stderr,
                     "extractBetween or replaceText differ from the step-by-step scans\n"
                     "input %s\n",
                     tessaly::testing::showBytes(input).c_str());
        std::abort();
    }
    return 0;
}
