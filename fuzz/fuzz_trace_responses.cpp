// Every trace service's handling of a reply body, on arbitrary bytes: what each step would
// write into the output box. Nothing may crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "text/text.h"
#include "trace/trace_services.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes body(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view prefix = "Loading root server list (static data):";

    (void)traceServiceAResult(body);
    (void)traceServiceBResult(body);
    (void)traceServiceCResult(body);
    (void)traceServiceDViewState(body);

    // The last attempt always writes, and its text starts with the fixed prefix.
    const std::optional<Text> last = traceServiceDResult(body, false);
    if (!last || last->compare(0, prefix.size(), prefix) != 0) {
        std::abort();
    }
    // An attempt that may retry writes only a text without the failure text in it.
    const std::optional<Text> early = traceServiceDResult(body, true);
    if (early && findText(*early, unknownText) != -1) {
        std::abort();
    }
    return 0;
}
