// The character-stepping search shared by the text operations (internal to text/).
#pragma once

#include <cstddef>
#include <string_view>

namespace tessaly::scan {

inline constexpr std::size_t none = std::string_view::npos;

inline bool isLeadByte(unsigned char c) {
    return c >= 0x80;
}

// The first occurrence of what that begins at a character start at or after from
// (0-based), where characters are counted from from itself; none when there is none.
// An empty what is never found.
std::size_t find(std::string_view text, std::string_view what, std::size_t from, bool ignoreCase);

// True when what, read alone, ends on a character boundary (its last byte is not a lead
// byte waiting for a trail byte).
bool endsOnCharacterBoundary(std::string_view what);

}  // namespace tessaly::scan
