// The character-stepping text operations done again with a plain byte loop, one character
// at a time, and tag stripping literally on top of them: slow, obviously correct versions
// against which the optimised library scans are checked (differential tests, fuzz targets,
// benchmarks).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "text/text.h"

namespace tessaly::testing {

// A byte of 0x80 or more begins a double-byte character of code page 936.
inline bool isLeadByte(char c) {
    return static_cast<unsigned char>(c) >= 0x80;
}

inline char foldAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Does what match text at byte index i? With ignoreCase, ASCII letters match either case,
// except where the byte is the trail byte of a double-byte character begun inside the match.
inline bool naiveMatchesAt(std::string_view text, std::size_t i, std::string_view what,
                           bool ignoreCase) {
    if (i + what.size() > text.size()) {
        return false;
    }
    bool trail = false;
    for (std::size_t j = 0; j < what.size(); ++j) {
        char a = text[i + j];
        char b = what[j];
        if (trail) {
            if (a != b) {
                return false;
            }
            trail = false;
            continue;
        }
        if (ignoreCase) {
            a = foldAsciiLetter(a);
            b = foldAsciiLetter(b);
        }
        if (a != b) {
            return false;
        }
        trail = isLeadByte(a);
    }
    return true;
}

// findText stepping one character at a time from start. An empty what finds nothing.
inline long naiveFindText(std::string_view text, std::string_view what, long start = 1,
                          bool ignoreCase = false) {
    if (what.empty()) {
        return -1;
    }
    if (start < 1) {
        start = 1;
    }
    std::size_t i = static_cast<std::size_t>(start - 1);
    while (i < text.size()) {
        if (isLeadByte(text[i]) && i + 1 >= text.size()) {
            break;  // a lead byte with nothing after it is not a character
        }
        if (naiveMatchesAt(text, i, what, ignoreCase)) {
            return static_cast<long>(i + 1);
        }
        i += isLeadByte(text[i]) ? 2 : 1;
    }
    return -1;
}

// replaceText stepping one character at a time; after a replacement the scan resumes on
// the byte right after the replaced occurrence.
inline Text naiveReplaceText(std::string_view text, std::string_view old,
                             std::string_view replacement, bool caseSensitive = true,
                             long start = 1, long count = -1) {
    if (text.empty() || old.empty()) {
        return Text(text);
    }
    if (start < 1) {
        start = 1;
    }
    if (static_cast<std::size_t>(start) > text.size()) {
        return Text(text);
    }
    std::size_t i = static_cast<std::size_t>(start - 1);
    Text out(text.substr(0, i));
    long replaced = 0;
    while (i < text.size()) {
        if (count >= 0 && replaced >= count) {
            break;
        }
        if (isLeadByte(text[i]) && i + 1 >= text.size()) {
            break;
        }
        if (naiveMatchesAt(text, i, old, !caseSensitive)) {
            out.append(replacement);
            i += old.size();
            ++replaced;
            continue;
        }
        std::size_t step = isLeadByte(text[i]) ? 2 : 1;
        out.append(text.substr(i, step));
        i += step;
    }
    out.append(text.substr(i));
    return out;
}

// splitText stepping one character at a time. An empty delimiter leaves the text whole.
inline TextList naiveSplitText(std::string_view text, std::string_view delimiter) {
    TextList pieces;
    if (text.empty()) {
        return pieces;
    }
    if (delimiter.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t pieceStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (isLeadByte(text[i]) && i + 1 >= text.size()) {
            break;
        }
        if (naiveMatchesAt(text, i, delimiter, false)) {
            pieces.emplace_back(text.substr(pieceStart, i - pieceStart));
            i += delimiter.size();
            pieceStart = i;
            continue;
        }
        i += isLeadByte(text[i]) ? 2 : 1;
    }
    if (pieceStart < text.size()) {
        pieces.emplace_back(text.substr(pieceStart));
    }
    return pieces;
}

// extractBetween step by step over naiveFindText. Empty markers yield no piece.
inline Text naiveExtractBetween(std::string_view text, std::string_view startMarker,
                                std::string_view endMarker, TextList& pieces) {
    TextList found;
    if (!startMarker.empty() && !endMarker.empty()) {
        long position = 0;
        for (;;) {
            long s = naiveFindText(text, startMarker, position, true);
            if (s == -1) {
                break;
            }
            position = s + static_cast<long>(startMarker.size());
            long e = naiveFindText(text, endMarker, position, true);
            if (e == -1) {
                continue;
            }
            found.emplace_back(text.substr(static_cast<std::size_t>(position - 1),
                                           static_cast<std::size_t>(e - position)));
        }
    }
    pieces = std::move(found);
    return pieces.empty() ? Text(unknownText) : pieces.front();
}

// The same literal algorithm over the naive scans only.
inline Text naiveStripTags(std::string_view input) {
    TextList pieces;
    naiveExtractBetween(input, "<", ">", pieces);
    Text text(input);
    for (const Text& piece : pieces) {
        text = naiveReplaceText(text, "<" + piece + ">", "", true);
    }
    return text;
}

}  // namespace tessaly::testing
