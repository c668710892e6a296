// textToNumber on fuzz input: compared with strtod in the C locale on the folded text
// (decimal notation only), and full-width forms read like their ASCII originals.
#include <locale.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/show_bytes.h"
#include "text/text.h"

using namespace tessaly;

namespace {

// A3 A1..A3 FE to 21..7E, A1 A1 to a space, A1 AB to a tilde, A1 EE and A1 EF to an
// asterisk; every other character as it is. Steps by characters.
std::string foldFullWidth(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80 || i + 1 == text.size()) {
            out += text[i];
            ++i;
            continue;
        }
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
            out += static_cast<char>(trail - 0x80);
        } else if (lead == 0xA1 && trail == 0xA1) {
            out += ' ';
        } else if (lead == 0xA1 && trail == 0xAB) {
            out += '~';
        } else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF)) {
            out += '*';
        } else {
            out.append(text.substr(i, 2));
        }
        i += 2;
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

double expectedNumber(std::string_view text) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string folded = foldFullWidth(text);
    std::size_t i = 0;
    while (i < folded.size() && (folded[i] == ' ' || (folded[i] >= '\t' && folded[i] <= '\r'))) {
        ++i;
    }
    std::size_t j = i;
    if (j < folded.size() && (folded[j] == '+' || folded[j] == '-')) {
        ++j;
    }
    const char* p = folded.c_str() + j;  // the string's own zero ends every look-ahead
    if (!(isDigit(p[0]) || (p[0] == '.' && isDigit(p[1])))) {
        return 0;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        return 0;  // decimal notation only: the number is the 0 before the x
    }
    return strtod_l(folded.c_str() + i, nullptr, cLocale);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = textToNumber(text);
    const double expected = expectedNumber(text);
    if (!(value == expected)) {
        std::fprintf(stderr, "textToNumber %s gave %.17g, expected %.17g\n",
                     tessaly::testing::showBytes(text).c_str(), value, expected);
        std::abort();
    }
    // Written in full-width forms, printable ASCII reads the same.
    bool printable = true;
    std::string wide;
    for (char c : text) {
        if (c == ' ') {
            wide += "\xA1\xA1";
        } else if (c > ' ' && c < 0x7F) {
            wide += '\xA3';
            wide += static_cast<char>(c + 0x80);
        } else {
            printable = false;
            break;
        }
    }
    if (printable && !(textToNumber(wide) == value)) {
        std::fprintf(stderr, "full-width %s read differently from %s\n",
                     tessaly::testing::showBytes(wide).c_str(),
                     tessaly::testing::showBytes(text).c_str());
        std::abort();
    }
    return 0;
}
