// Cutting marked pieces out of response texts, and removing tag-like stretches.
#pragma once

#include "text/text.h"

namespace tessaly {

// Fills pieces (replacing whatever it held) with every stretch strictly between a start
// marker and the first end marker after it, in the order of the start markers. The search
// for the next start marker restarts right after the current one, so pieces may overlap.
// Markers match ignoring ASCII letter case. Returns a copy of the first piece, or
// unknownText when there is none. An empty marker yields no piece.
Text extractBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker,
                    TextList& pieces);

// What extractBetween returns (the first piece, or unknownText), without collecting the
// other pieces. Overlapping pieces can add up to far more than the text itself, so callers
// that want only the first one use this.
Text extractFirstBetween(std::string_view text, std::string_view startMarker,
                         std::string_view endMarker);

// Removes every "<" + piece + ">" where the pieces are those of
// extractBetween(text, "<", ">"), taken from the text as given and deleted one after
// another (each deletion byte-exact, on the text the previous deletions left). Runs in
// about linear time; gives the same bytes as doing those deletions literally.
Text stripTags(std::string_view text);

}  // namespace tessaly
