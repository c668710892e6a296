// readRdapAnswer and parseRdapBootstrap on any body: no crash, and whatever is shown is whole
// lines, each ending CR LF, without another control byte, starting with the source line; a
// registrar link only to an HTTPS record of the same domain; the bootstrap's bases only over
// HTTPS. The GBK form for the box (utf8ToGbk) takes any of it.
//
// Input: one byte choosing the HTTP status (200, 404 or 500), then the body.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/show_bytes.h"
#include "text/codepage.h"
#include "whois/rdap_answer.h"

using namespace tessaly;

namespace {

constexpr std::string_view url = "https://rdap.example/rdap/domain/example.dev";

[[noreturn]] void fail(const char* what, std::string_view text, std::string_view body) {
    std::fprintf(stderr, "%s\ntext %s\nbody %s\n", what, tessaly::testing::showBytes(text).c_str(),
                 tessaly::testing::showBytes(body).c_str());
    std::abort();
}

bool wholeLines(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n') {
                return false;
            }
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return text.size() >= 2 && text.substr(text.size() - 2) == "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    static constexpr long statuses[] = {200, 404, 500};
    const long status = statuses[data[0] % 3];
    const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

    const RdapAnswer answer = readRdapAnswer(body, status, url, "example.dev", "Example.dev");
    if (answer.kind == RdapAnswerKind::notRdap) {
        if (!answer.text.empty() || answer.why.empty()) {
            fail("nothing to show, yet text or no reason", answer.text, body);
        }
    } else {
        if (answer.text.rfind("% RDAP " + std::string(url) + "\r\n", 0) != 0 ||
            !wholeLines(answer.text)) {
            fail("not whole lines from the source line on", answer.text, body);
        }
        (void)utf8ToGbk(answer.text);
    }
    if (!answer.registrarUrl.empty()) {
        std::string lower = answer.registrarUrl;
        for (char& c : lower) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        if (answer.kind != RdapAnswerKind::domain || lower.rfind("https://", 0) != 0 ||
            lower.find("/domain/example.dev") == std::string::npos) {
            fail("registrar link", answer.registrarUrl, body);
        }
    }

    if (const auto bootstrap = parseRdapBootstrap(body)) {
        for (const auto& [name, bases] : bootstrap->basesOf) {
            for (const std::string& base : rdapBasesFor(*bootstrap, name)) {
                std::string scheme = base.substr(0, 8);
                for (char& c : scheme) {
                    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
                }
                if (scheme != "https://") {
                    fail("a base that is not HTTPS", base, body);
                }
                if (base.back() != '/') {
                    fail("a base without its final slash", base, body);
                }
            }
        }
    }
    return 0;
}
