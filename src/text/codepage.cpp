#include "text/codepage.h"

#include <iconv.h>
#include <utf8proc.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace tessaly {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// Converts in with a fresh iconv descriptor (conversions run on many workers at once).
// Where iconv cannot go on, onStuck(rest, out) appends a stand-in and returns how many
// input bytes to skip. expectedSize is room reserved for the output.
template <class OnStuck>
std::string convert(const char* to, const char* from, std::string_view in, std::size_t expectedSize,
                    OnStuck onStuck) {
    std::string out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    out.reserve(expectedSize);
    char buffer[4096];
    // iconv is handed a window of the input at a time: a stop at every character it cannot
    // convert must not cost a look at all the input that is left (sanitizers check the
    // whole range handed to iconv on every call).
    constexpr std::size_t window = 4096;
    std::size_t pos = 0;
    while (pos < in.size()) {
        char* src = const_cast<char*>(in.data() + pos);
        const std::size_t offered = std::min(in.size() - pos, window);
        std::size_t left = offered;
        char* dst = buffer;
        std::size_t room = sizeof buffer;
        std::size_t rc = iconv(cd, &src, &left, &dst, &room);
        int error = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        pos += offered - left;
        const bool cutByWindow = pos + left < in.size();
        if (rc == static_cast<std::size_t>(-1) && error != E2BIG && left > 0 &&
            !(error == EINVAL && cutByWindow && left < offered)) {
            // An invalid or unconvertible sequence, or one cut off by the end of the input.
            pos += onStuck(in.substr(pos), out);
        }
    }
    char* dst = buffer;
    std::size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    iconv_close(cd);
    return out;
}

// The code points of the text, every malformed byte as U+FFFD. wchar_t holds UCS-4 here,
// glibc's own encoding, so iconv converts from it to GBK in one step.
std::wstring decodeUtf8(std::string_view in) {
    static_assert(sizeof(wchar_t) == 4, "wchar_t must hold a whole code point");
    std::wstring out;
    out.reserve(in.size());
    while (!in.empty()) {
        utf8proc_int32_t cp;
        auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(in.data()),
                                  static_cast<utf8proc_ssize_t>(in.size()), &cp);
        if (n > 0) {
            out.push_back(static_cast<wchar_t>(cp));
            in.remove_prefix(static_cast<std::size_t>(n));
        } else {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            in.remove_prefix(1);
        }
    }
    return out;
}

// Code points to GBK in one iconv step; characters GBK lacks become "?".
Text gbkFromCodePoints(const std::wstring& codePoints) {
    const std::string_view in(reinterpret_cast<const char*>(codePoints.data()),
                              codePoints.size() * sizeof(wchar_t));
    return convert("GBK", "WCHAR_T", in, codePoints.size() * 2,
                   [](std::string_view, std::string& out) {
                       out.push_back('?');
                       return sizeof(wchar_t);
                   });
}

bool isCombiningMark(wchar_t c) {
    return utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->combining_class != 0;
}

// A base character and the combining marks after it become the precomposed character where
// one exists, as far as the marks compose; every other character stays as it is (no
// singleton or compatibility mapping: U+F92C keeps its own GBK code). utf8proc's composing
// step works on the run as given and decomposes nothing first.
std::wstring composeMarks(const std::wstring& in) {
    std::wstring out;
    out.reserve(in.size());
    std::vector<utf8proc_int32_t> run;
    std::size_t i = 0;
    while (i < in.size()) {
        std::size_t end = i + 1;
        while (end < in.size() && isCombiningMark(in[end])) {
            ++end;
        }
        if (end - i == 1 || isCombiningMark(in[i])) {
            out.append(in, i, end - i);  // nothing to compose, or marks without a base
        } else {
            run.assign(in.begin() + static_cast<std::ptrdiff_t>(i),
                       in.begin() + static_cast<std::ptrdiff_t>(end));
            const utf8proc_ssize_t n = utf8proc_normalize_utf32(
                run.data(), static_cast<utf8proc_ssize_t>(run.size()), UTF8PROC_COMPOSE);
            if (n < 0) {
                out.append(in, i, end - i);
            } else {
                for (utf8proc_ssize_t k = 0; k < n; ++k) {
                    out.push_back(static_cast<wchar_t>(run[static_cast<std::size_t>(k)]));
                }
            }
        }
        i = end;
    }
    return out;
}

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
    return convert("UTF-8", "GBK", gbk, gbk.size() + gbk.size() / 2 + 16,
                   [](std::string_view, std::string& out) {
                       out.append(replacementCharacter);
                       return std::size_t{1};
                   });
}

Text utf8ToGbk(std::string_view utf8) {
    // Not straight from UTF-8: glibc converts UTF-8 to GBK in two steps and, each time the
    // second step meets a character GBK lacks, converts the first step's buffer again, so a
    // body full of such characters would take minutes. From code points it is one step.
    return gbkFromCodePoints(decodeUtf8(utf8));
}

Text utf8ToLocalText(const Bytes& body) {
    // The text ends at the first zero byte, as a zero code unit would end it.
    return gbkFromCodePoints(composeMarks(decodeUtf8(bytesToText(body))));
}

}  // namespace tessaly
