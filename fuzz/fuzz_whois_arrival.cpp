// The arrival handler of the WHOIS client on any answer, cut into any arrivals, with other
// lookups writing the box between some of them: no crash, and after every arrival the box
// holds exactly the answer so far (each arrival up to its first zero byte, LF made CR LF),
// never a mix with the other write. The GBK reading of the box for the screen (gbkToUtf8)
// takes any bytes.
//
// Input: a mask of the arrivals that another write precedes, then arrivals, each a length
// byte and that many bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "text/codepage.h"
#include "text/text.h"
#include "whois/whois_query.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t otherWrites = data[0];
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    tessaly::testing::MemoryOutputBox box("earlier answer");
    Text answerSoFar;
    Text expected;
    for (int arrival = 0; !rest.empty(); ++arrival) {
        const std::size_t length =
            std::min<std::size_t>(static_cast<unsigned char>(rest[0]), rest.size() - 1);
        const std::string_view bytes = rest.substr(1, length);
        rest.remove_prefix(1 + length);
        if ((otherWrites >> (arrival % 8)) & 1) {
            box.setText(arrival % 2 == 0 ? "another lookup's result" : "");
        }
        onWhoisDataArrived(Bytes(bytes), answerSoFar, box);
        // LF made CR LF where it stands as a character of its own (not as the second byte
        // of a double-byte character), by the step-by-step scan.
        expected +=
            tessaly::testing::naiveReplaceText(bytes.substr(0, bytes.find('\0')), "\n", "\r\n");
        if (answerSoFar != expected || box.readText() != expected) {
            std::fprintf(stderr, "box %s\nexpected %s\n",
                         tessaly::testing::showBytes(box.readText()).c_str(),
                         tessaly::testing::showBytes(expected).c_str());
            std::abort();
        }
    }
    (void)gbkToUtf8(box.readText());
    return 0;
}
