// Both web WHOIS services' handling of a response body, on arbitrary bytes: what each would
// write into the output box. Nothing may crash, hang or read out of bounds, and service A's
// joining as it goes must give what joining extractBetween's whole list of pieces gives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/literal_web_whois.h"
#include "text/codepage.h"
#include "text/extract.h"
#include "text/text.h"
#include "whois/web_whois.h"

using namespace tessaly;

using testing::literalServiceAResult;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes body(reinterpret_cast<const char*>(data), size);

    const Text a = webWhoisServiceAResult(body);
    // Far below the bound, the literal list of pieces stays small enough to build.
    if (a.find('\0') != Text::npos || a.size() > 2 * webWhoisJoinLimit ||
        (size <= 4096 && a != literalServiceAResult(body))) {
        std::abort();
    }

    const Text b = webWhoisServiceBResult(body);
    if (b.find('\0') != Text::npos || b.size() > 2 * size) {
        std::abort();
    }
    return 0;
}
