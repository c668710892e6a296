// Text operations over code-page-936 (GBK) byte strings.
//
// Every text the tool shows, reads or sends is held as GBK bytes. Positions are byte
// positions counted from 1, -1 means "none", and lengths count bytes. Scans that step
// by characters treat a byte of 0x80 or more and the byte after it as one double-byte
// character: a match is tried only where a character begins (counting from where the
// scan starts), and a lead byte followed by the end of the text ends the scan.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// A GBK byte string. It never holds a zero byte of its own (bytesToText stops there).
using Text = std::string;
// A counted byte buffer (a response body, one TCP arrival); may hold zero bytes.
using Bytes = std::string;
// A list of texts. Callers index it from 0; the position of a member is its index + 1.
using TextList = std::vector<Text>;

// The failure text "未知" (CE B4 D6 AA).
inline constexpr std::string_view unknownText = "\xCE\xB4\xD6\xAA";
// The busy text "查询中......".
inline constexpr std::string_view busyText = "\xB2\xE9\xD1\xAF\xD6\xD0......";

long textLength(std::string_view text);
// Byte-exact equality; no case folding, no trimming.
bool sameText(std::string_view a, std::string_view b);

Text joinTexts(std::initializer_list<std::string_view> parts);
template <class... Parts>
Text joinTexts(const Parts&... parts) {
    return joinTexts({std::string_view(parts)...});
}

// A one-byte text holding the byte n (10 gives LF, 13 gives CR).
Text charFromCode(int n);

// At most count bytes from position start on; empty when start < 1, start > length or
// count <= 0. Counts bytes, not characters.
Text midText(std::string_view text, long start, long count);

// Position of the first occurrence of what at or after start (0 and 1 both mean the
// first byte), or -1. Steps by characters. ignoreCase folds ASCII letters only, and never
// the trail byte of a double-byte character.
long findText(std::string_view text, std::string_view what, long start = 1,
              bool ignoreCase = false);

// Replaces occurrences of old by replacement from left to right without overlap: the
// scan goes on right after each replaced occurrence, so the replacement is never scanned
// again (LF -> CR LF turns CR LF into CR CR LF). start (from 1) is where the scan begins,
// the bytes before it are kept; count < 0 replaces every occurrence. An empty text or an
// empty old gives the text unchanged.
Text replaceText(std::string_view text, std::string_view old, std::string_view replacement,
                 bool caseSensitive = true, long start = 1, long count = -1);

// The pieces between byte-exact occurrences of delimiter (character-stepping scan). Empty
// pieces before the first and between two delimiters stay; the piece after the last
// delimiter is added only when non-empty. An empty text gives an empty list.
TextList splitText(std::string_view text, std::string_view delimiter);

// The bytes up to, not including, the first zero byte.
Text bytesToText(std::string_view bytes);

// Full-width GBK forms folded to ASCII, then the longest leading decimal number
// (white space skipped, optional sign, digits, point, fraction, exponent); 0 when the
// text does not begin with a number.
double textToNumber(std::string_view text);

// n zero bytes; n <= 0 gives an empty buffer.
Bytes blankBytes(long n);
long bytesLength(std::string_view bytes);

}  // namespace tessaly
