// The fast stripTags against the literal one-deletion-per-piece algorithm, over generated
// inputs built from a few bytes so that repeated tags, nested "<", tags that a deletion
// forms anew and double-byte characters whose trail byte is "<" or ">" turn up often.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "support/literal_strip_tags.h"
#include "text/extract.h"

namespace tessaly {
namespace {

using testing::naiveExtractBetween;
using testing::naiveStripTags;
using testing::literalStripTags;
using testing::showBytes;

// Deterministic on every platform: raw mt19937_64 output, no distributions.
class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }

    // Bytes drawn from a tiny alphabet: the two brackets, a letter in both cases and a
    // lead byte (which pairs with whatever byte follows it, "<" and ">" included).
    std::string tinyAlphabet(std::size_t maxLength) {
        static const char bytes[] = {'<', '>', 'a', 'A', '\xB0'};
        std::string s;
        std::size_t n = below(maxLength + 1);
        for (std::size_t i = 0; i < n; ++i) {
            s += bytes[below(sizeof bytes)];
        }
        return s;
    }

    // Ready-made fragments: tags, half tags, empty tags, and double-byte characters whose
    // trail byte is "<", ">", "A" or "a".
    std::string fragments(std::size_t maxCount) {
        static const char* const parts[] = {
            "<",     ">",        "a",        "A",    "b",        " ",        "<a>",
            "<A>",   "</a>",     "<b>",      "<B>",  "<>",       "<<",       ">>",
            "<a",    "a>",       "<ab>",     "<aB>", "<br>",     "<a<a>",    "\xB0<",
            "\xB0>", "\xB0\x41", "\xB0\x61", "\xB0", "\xB0\xA1", "\xB2\xE9",
        };
        std::string s;
        std::size_t n = below(maxCount + 1);
        for (std::size_t i = 0; i < n; ++i) {
            s += parts[below(sizeof parts / sizeof parts[0])];
        }
        return s;
    }

    // Nested brackets: a stretch that deleting an inner tag turns into a new tag, such as
    // "<a><<a>a>" or "<c><a<c>>".
    std::string nested(int depth) {
        if (depth <= 0 || chance(25)) {
            return fragments(3);
        }
        switch (below(5)) {
            case 0:
                return "<" + nested(depth - 1) + ">";
            case 1:
                return nested(depth - 1) + nested(depth - 1);
            case 2:
                return "<" + nested(depth - 1);
            case 3:
                return nested(depth - 1) + ">";
            default: {
                std::string tag = "<" + fragments(2) + ">";
                return tag + "<" + tag.substr(0, below(tag.size() + 1)) + tag +
                       tag.substr(below(tag.size() + 1)) + ">";
            }
        }
    }

    // A short HTML-like page with repeated tags and some GBK text, then a few random
    // byte edits.
    std::string page(std::size_t tags) {
        static const char* const tagNames[] = {"b",  "B",    "td",       "TD",      "/td",
                                               "tr", "br /", "a href=x", "/a",      "",
                                               "<",  "p",    "\xB0>",    "\xB2\xE9"};
        static const char* const words[] = {
            "x",   "12",    "\xB2\xE9\xD1\xAF", "\xCE\xB4\xD6\xAA", "\r\n", " ", "a<b",
            "c>d", "\xB0<", "\xB0\x3E"};
        std::string s;
        for (std::size_t i = 0; i < tags; ++i) {
            s += "<";
            s += tagNames[below(sizeof tagNames / sizeof tagNames[0])];
            s += ">";
            s += words[below(sizeof words / sizeof words[0])];
        }
        for (std::size_t edits = below(4); edits > 0 && !s.empty(); --edits) {
            std::size_t at = below(s.size());
            static const char bytes[] = {'<', '>', '\xB0', 'a'};
            if (chance(50)) {
                s.erase(at, 1);
            } else {
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), bytes[below(4)]);
            }
        }
        return s;
    }

private:
    std::mt19937_64 rng_;
};

// Compares the fast stripTags with the literal algorithm, and the library's extraction and
// replacement (which the literal algorithm uses) with their step-by-step versions.
void expectSameStripping(const std::string& input) {
    const Text expected = literalStripTags(input);
    const Text fast = stripTags(input);
    ASSERT_EQ(fast, expected) << "input " << showBytes(input) << "\nfast      " << showBytes(fast)
                              << "\nreference " << showBytes(expected);
    ASSERT_EQ(expected, naiveStripTags(input)) << "input " << showBytes(input);
}

TEST(StripTagsDifferential, TinyAlphabet) {
    Generator g(1);
    for (int i = 0; i < 150000; ++i) {
        expectSameStripping(g.tinyAlphabet(i < 50000 ? 8 : 20));
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(StripTagsDifferential, Fragments) {
    Generator g(2);
    for (int i = 0; i < 100000; ++i) {
        expectSameStripping(g.fragments(12));
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(StripTagsDifferential, NestedTags) {
    Generator g(3);
    for (int i = 0; i < 60000; ++i) {
        expectSameStripping(g.nested(5));
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(StripTagsDifferential, Pages) {
    Generator g(4);
    for (int i = 0; i < 3000; ++i) {
        expectSameStripping(g.page(1 + g.below(60)));
        if (::testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

// Markers of several characters, markers that end in a lead byte and markers that
// overlap themselves, against the step-by-step extraction.
TEST(ExtractBetweenDifferential, AssortedMarkers) {
    static const char* const markers[] = {"<",     ">",     "<a", "a>",       "aA",  "A",    "\xB0",
                                          "<\xB0", "\xB0<", ">>", "\xB0\x41", "<A>", "</a>", ""};
    const std::size_t count = sizeof markers / sizeof markers[0];
    Generator g(5);
    for (int i = 0; i < 100000; ++i) {
        const std::string text = i % 2 == 0 ? g.tinyAlphabet(16) : g.fragments(8);
        const std::string_view start = markers[g.below(count)];
        const std::string_view end = markers[g.below(count)];
        TextList fast = {"stale"};
        TextList naive;
        const Text fastResult = extractBetween(text, start, end, fast);
        const Text naiveResult = naiveExtractBetween(text, start, end, naive);
        ASSERT_EQ(fast, naive) << showBytes(text) << " between " << showBytes(start) << " and "
                               << showBytes(end);
        ASSERT_EQ(fastResult, naiveResult) << showBytes(text);
        ASSERT_EQ(extractFirstBetween(text, start, end), naiveResult) << showBytes(text);
    }
}

}  // namespace
}  // namespace tessaly
