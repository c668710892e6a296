// Bytes in a readable form for failure messages.
#pragma once

#include <string>
#include <string_view>

namespace tessaly::testing {

// Bytes in a readable form for failure messages: printable ASCII as is, the rest as \xHH.
inline std::string showBytes(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char c : bytes) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '\\' && c != '"') {
            out += c;
        } else {
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 15];
        }
    }
    out += '"';
    return out;
}

}  // namespace tessaly::testing
