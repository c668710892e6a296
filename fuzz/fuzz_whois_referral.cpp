// referredWhoisServer on any answer of IANA's: no crash, and a server only when it is a
// plausible host name in lower case, with neither blanks, control bytes nor a final dot,
// that stands in the answer as the value of a line (in any letter case).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/show_bytes.h"
#include "whois/whois_referral.h"

using namespace tessaly;
using tessaly::testing::showBytes;

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const auto server = referredWhoisServer(answer);
    if (!server) {
        return 0;
    }
    const bool shapeOk = isPlausibleHostName(*server) && server->back() != '.' &&
                         lowered(*server) == *server &&
                         server->find_first_of(std::string(" \t\r\n\0", 5)) == std::string::npos;
    if (!shapeOk || lowered(answer).find(*server) == std::string::npos) {
        std::fprintf(stderr, "server %s\nanswer %s\n", showBytes(*server).c_str(),
                     showBytes(answer).c_str());
        std::abort();
    }
    return 0;
}
