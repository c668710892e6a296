#include "text/idna.h"

#include <idn2.h>

#include <cstdlib>
#include <memory>

#include "text/codepage.h"

namespace tessaly {

std::optional<std::string> toALabels(std::string_view gbkName) {
    if (gbkName.empty() || gbkName.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // Bytes that are not GBK become U+FFFD, which no domain name may hold.
    const std::string utf8 = gbkToUtf8(gbkName);
    char* ascii = nullptr;
    const int rc = idn2_to_ascii_8z(utf8.c_str(), &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    const std::unique_ptr<char, decltype(&idn2_free)> owned(ascii, idn2_free);
    if (rc != IDN2_OK || ascii == nullptr || *ascii == '\0') {
        return std::nullopt;
    }
    std::string result(ascii);
    if (result.size() > 1 && result.back() == '.') {
        result.pop_back();  // the root's empty label
    }
    if (result.size() > 253) {
        return std::nullopt;
    }
    std::size_t labelLength = 0;
    for (char& c : result) {
        if (c == '.') {
            if (labelLength == 0) {
                return std::nullopt;
            }
            labelLength = 0;
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!allowed || ++labelLength > 63) {
            return std::nullopt;
        }
    }
    if (labelLength == 0) {
        return std::nullopt;
    }
    return result;
}

}  // namespace tessaly
