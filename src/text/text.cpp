#include "text/text.h"

#include <locale.h>
#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "text/scan.h"

namespace tessaly {
namespace scan {
namespace {

unsigned char foldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}
bool isAsciiLetter(unsigned char c) {
    return foldCase(c) >= 'a' && foldCase(c) <= 'z';
}

// Compares what with the text at pos, which is a character start. Letters fold, except a
// trail byte of a double-byte character, which must be equal.
bool matchesIgnoringCase(std::string_view text, std::size_t pos, std::string_view what) {
    if (what.size() > text.size() - pos) {
        return false;
    }
    bool trail = false;
    for (std::size_t i = 0; i < what.size(); ++i) {
        auto t = static_cast<unsigned char>(text[pos + i]);
        auto w = static_cast<unsigned char>(what[i]);
        if (trail) {
            if (t != w) {
                return false;
            }
            trail = false;
        } else {
            if (foldCase(t) != foldCase(w)) {
                return false;
            }
            trail = isLeadByte(t);
        }
    }
    return true;
}

// Whether pos begins a character, given that known (<= pos) does. A byte below 0x80
// always ends a character, so only the run of high bytes right before pos matters: it
// is made of whole lead+trail pairs exactly when its length is even.
bool isCharacterStart(std::string_view text, std::size_t known, std::size_t pos) {
    std::size_t q = pos;
    while (q > known && isLeadByte(static_cast<unsigned char>(text[q - 1]))) {
        --q;
    }
    return (pos - q) % 2 == 0;
}

// The next position at or after from whose byte equals c, ignoring ASCII letter case.
// Keeps the next hit of each case so that a frequent lower case and a rare capital do not
// make the search quadratic.
class FirstByteFinder {
public:
    FirstByteFinder(std::string_view text, unsigned char c) : text_(text) {
        if (isAsciiLetter(c)) {
            lower_ = foldCase(c);
            upper_ = static_cast<unsigned char>(lower_ - 32);
        } else {
            lower_ = upper_ = c;
        }
    }
    std::size_t next(std::size_t from) {
        if (lowerAt_ == unset || (lowerAt_ != none && lowerAt_ < from)) {
            lowerAt_ = text_.find(static_cast<char>(lower_), from);
        }
        if (upper_ == lower_) {
            return lowerAt_;
        }
        if (upperAt_ == unset || (upperAt_ != none && upperAt_ < from)) {
            upperAt_ = text_.find(static_cast<char>(upper_), from);
        }
        return std::min(lowerAt_, upperAt_);
    }

private:
    static constexpr std::size_t unset = none - 1;
    std::string_view text_;
    unsigned char lower_, upper_;
    std::size_t lowerAt_ = unset, upperAt_ = unset;
};

}  // namespace

std::size_t find(std::string_view text, std::string_view what, std::size_t from, bool ignoreCase) {
    if (what.empty() || from >= text.size()) {
        return none;
    }
    std::size_t known = from;  // a position known to begin a character
    std::size_t cursor = from;
    FirstByteFinder first(text, static_cast<unsigned char>(what[0]));
    while (cursor < text.size()) {
        std::size_t p = ignoreCase ? first.next(cursor) : text.find(what, cursor);
        if (p == none) {
            return none;
        }
        if (!isCharacterStart(text, known, p)) {
            // p is the trail byte of a double-byte character; the next one begins after it.
            known = cursor = p + 1;
            continue;
        }
        known = p;
        // A lead byte followed by the end of the text ends the scan.
        if (isLeadByte(static_cast<unsigned char>(text[p])) && p + 1 == text.size()) {
            return none;
        }
        if (!ignoreCase || matchesIgnoringCase(text, p, what)) {
            return p;
        }
        cursor = p + 1;
    }
    return none;
}

bool endsOnCharacterBoundary(std::string_view what) {
    std::size_t i = 0;
    while (i < what.size()) {
        i += isLeadByte(static_cast<unsigned char>(what[i])) ? 2 : 1;
    }
    return i == what.size();
}

}  // namespace scan

long textLength(std::string_view text) {
    return static_cast<long>(text.size());
}

bool sameText(std::string_view a, std::string_view b) {
    return a == b;
}

Text joinTexts(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (auto part : parts) {
        size += part.size();
    }
    Text joined;
    joined.reserve(size);
    for (auto part : parts) {
        joined.append(part);
    }
    return joined;
}

Text charFromCode(int n) {
    return Text(1, static_cast<char>(static_cast<unsigned char>(n)));
}

Text midText(std::string_view text, long start, long count) {
    if (start < 1 || start > textLength(text) || count <= 0) {
        return Text();
    }
    return Text(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

long findText(std::string_view text, std::string_view what, long start, bool ignoreCase) {
    std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
    std::size_t p = scan::find(text, what, from, ignoreCase);
    return p == scan::none ? -1 : static_cast<long>(p + 1);
}

// Kept on purpose: the scan goes on right after each replacement, so LF -> CR LF makes an
// existing CR LF into CR CR LF; every caller relies on exactly that.
Text replaceText(std::string_view text, std::string_view old, std::string_view replacement,
                 bool caseSensitive, long start, long count) {
    std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
    if (text.empty() || old.empty() || from >= text.size() || count == 0) {
        return Text(text);
    }
    Text out;
    out.reserve(text.size());
    out.append(text.substr(0, from));
    std::size_t pos = from;
    long replaced = 0;
    while (count < 0 || replaced < count) {
        // The scan counts characters afresh from right after each replaced occurrence.
        std::size_t p = scan::find(text, old, pos, !caseSensitive);
        if (p == scan::none) {
            break;
        }
        out.append(text.substr(pos, p - pos));
        out.append(replacement);
        pos = p + old.size();
        ++replaced;
    }
    out.append(text.substr(pos));
    return out;
}

TextList splitText(std::string_view text, std::string_view delimiter) {
    TextList pieces;
    if (text.empty()) {
        return pieces;
    }
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t p = scan::find(text, delimiter, pos, false);
        if (p == scan::none) {
            if (pos < text.size()) {
                pieces.emplace_back(text.substr(pos));
            }
            break;
        }
        pieces.emplace_back(text.substr(pos, p - pos));
        pos = p + delimiter.size();
    }
    return pieces;
}

Text bytesToText(std::string_view bytes) {
    return Text(bytes.substr(0, bytes.find('\0')));
}

namespace {

// The full-width forms of code page 936 folded into ASCII; other characters unchanged.
std::string foldFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (!scan::isLeadByte(c) || i + 1 >= text.size()) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto t = static_cast<unsigned char>(text[i + 1]);
        ++i;
        if (c == 0xA3 && t >= 0xA1 && t <= 0xFE) {
            out.push_back(static_cast<char>(t - 0x80));
        } else if (c == 0xA1 && t == 0xA1) {
            out.push_back(' ');
        } else if (c == 0xA1 && t == 0xAB) {
            out.push_back('~');
        } else if (c == 0xA1 && (t == 0xEE || t == 0xEF)) {
            out.push_back('*');
        } else {
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(t));
        }
    }
    return out;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

double textToNumber(std::string_view text) {
    const std::string folded = foldFullWidth(text);
    std::size_t i = 0;
    const std::size_t n = folded.size();
    while (i < n && (folded[i] == ' ' || (folded[i] >= '\t' && folded[i] <= '\r'))) {
        ++i;
    }
    const std::size_t begin = i;
    if (i < n && (folded[i] == '+' || folded[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    while (i < n && isDigit(folded[i])) {
        ++i, ++digits;
    }
    if (i < n && folded[i] == '.') {
        ++i;
        while (i < n && isDigit(folded[i])) {
            ++i, ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    if (i < n && (folded[i] == 'e' || folded[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (folded[j] == '+' || folded[j] == '-')) {
            ++j;
        }
        if (j < n && isDigit(folded[j])) {
            while (j < n && isDigit(folded[j])) {
                ++j;
            }
            i = j;
        }
    }
    // Always the C locale's decimal point, whatever locale the window set.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const std::string number = folded.substr(begin, i - begin);
    return strtod_l(number.c_str(), nullptr, cLocale);
}

Bytes blankBytes(long n) {
    return n <= 0 ? Bytes() : Bytes(static_cast<std::size_t>(n), '\0');
}

long bytesLength(std::string_view bytes) {
    return static_cast<long>(bytes.size());
}

}  // namespace tessaly
