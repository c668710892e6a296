// Cutting pieces out between two markers, and removing tag-like stretches.
#include <gtest/gtest.h>

#include <string>

#include "support/show_bytes.h"
#include "support/literal_strip_tags.h"
#include "text/extract.h"

namespace tessaly {
namespace {

using testing::showBytes;

const Text unknown(unknownText);

struct ExtractCase {
    const char* name;
    std::string text;
    std::string startMarker;
    std::string endMarker;
    TextList pieces;
    Text result;
};

void expectExtract(const ExtractCase& c) {
    TextList pieces;
    Text result = extractBetween(c.text, c.startMarker, c.endMarker, pieces);
    EXPECT_EQ(pieces, c.pieces) << c.name;
    EXPECT_EQ(result, c.result) << c.name << ": " << showBytes(result);
}

TEST(ExtractBetween, PiecesBetweenMarkers) {
    const ExtractCase cases[] = {
        {"empty text", "", "<", ">", {}, unknown},
        {"no markers", "plain text", "<", ">", {}, unknown},
        {"one piece", "a<b>c", "<", ">", {"b"}, "b"},
        {"several pieces in order", "<a><b><c>", "<", ">", {"a", "b", "c"}, "a"},
        {"start marker without end marker", "a<b", "<", ">", {}, unknown},
        {"start marker at the very end", "ab<", "<", ">", {}, unknown},
        {"piece, then a start marker at the end", "<a>b<", "<", ">", {"a"}, "a"},
        {"end marker right after the start marker", "<>x", "<", ">", {""}, ""},
        {"empty first piece is the result, not unknown", "<><a>", "<", ">", {"", "a"}, ""},
        {"pieces overlap", "<a<b>", "<", ">", {"a<b", "b"}, "a<b"},
        {"end marker before the first start marker", ">a<b>", "<", ">", {"b"}, "b"},
        {"lower-case markers find upper case",
         "x<pre>1</pre>y<PRE>2</PRE>",
         "<pre>",
         "</pre>",
         {"1", "2"},
         "1"},
        {"upper-case markers find lower case", "<td>a</td>", "<TD>", "</TD>", {"a"}, "a"},
        {"piece keeps its case", "<PRE>Ab</PRE>", "<pre>", "</pre>", {"Ab"}, "Ab"},
        {"end marker before start marker, multi-byte",
         "</pre>x<pre>y</pre>",
         "<pre>",
         "</pre>",
         {"y"},
         "y"},
        {"piece spans lines",
         "<pre>line1\r\nline2</pre>",
         "<pre>",
         "</pre>",
         {"line1\r\nline2"},
         "line1\r\nline2"},
        {"same marker at both ends", "|x|y|", "|", "|", {"x", "y"}, "x"},
        {"next start searched right after the start marker", "aaa", "aa", "a", {""}, ""},
        {"start marker inside a piece starts another", "[[a]]", "[[", "]]", {"a"}, "a"},
        {"JSON-like field",
         "{\"trace\":\"a\\nb\",\"x\":1}",
         "\"trace\":\"",
         "\",",
         {"a\\nb"},
         "a\\nb"},
    };
    for (const ExtractCase& c : cases) {
        expectExtract(c);
    }
}

TEST(ExtractBetween, StepsByDoubleByteCharacters) {
    const ExtractCase cases[] = {
        {"start marker as a trail byte", "\xB0<a>", "<", ">", {}, unknown},
        {"end marker as a trail byte", "<a\xB0>b>x", "<", ">", {"a\xB0>b"}, "a\xB0>b"},
        {"GBK piece", "<\xB2\xE9>", "<", ">", {"\xB2\xE9"}, "\xB2\xE9"},  // 查
        {"GBK before the marker", "\xB0\xA1<a>", "<", ">", {"a"}, "a"},
        {"lead byte at the end", "<a\xB0", "<", ">", {}, unknown},
        {"GBK markers",
         "x\xB2\xE9"
         "1\xD6\xD0",
         "\xB2\xE9",
         "\xD6\xD0",
         {"1"},
         "1"},  // 查 中
        {"marker trail byte is not folded", "x\xB0\x41y", "\xB0\x61", "y", {}, unknown},
        {"marker trail byte exact", "x\xB0\x41y", "\xB0\x41", "y", {""}, ""},
        {"backslash trail byte is no marker", "\xB0\\nA\\nB\\n", "\\n", "\\n", {"B"}, "B"},
    };
    for (const ExtractCase& c : cases) {
        expectExtract(c);
    }
}

TEST(ExtractBetween, EmptyMarkersYieldNothing) {
    const ExtractCase cases[] = {
        {"empty start marker", "a<b>c", "", ">", {}, unknown},
        {"empty end marker", "a<b>c", "<", "", {}, unknown},
        {"both empty", "abc", "", "", {}, unknown},
        {"both empty, empty text", "", "", "", {}, unknown},
    };
    for (const ExtractCase& c : cases) {
        expectExtract(c);
    }
}

TEST(ExtractBetween, ReplacesCallersListAsAWhole) {
    TextList pieces = {"old1", "old2", "old3"};
    EXPECT_EQ(extractBetween("<a>", "<", ">", pieces), "a");
    EXPECT_EQ(pieces, TextList{"a"});

    pieces = {"old"};
    EXPECT_EQ(extractBetween("nothing here", "<", ">", pieces), unknown);
    EXPECT_TRUE(pieces.empty());

    pieces = {"old"};
    EXPECT_EQ(extractBetween("<a>", "", ">", pieces), unknown);
    EXPECT_TRUE(pieces.empty());

    // The list may be reused from one call to the next.
    extractBetween("<a><b>", "<", ">", pieces);
    extractBetween("<c>", "<", ">", pieces);
    EXPECT_EQ(pieces, TextList{"c"});
}

TEST(StripTags, RemovesTagLikeStretches) {
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", "", ""},
        {"no tags", "plain text", "plain text"},
        {"repeated tag deleted by its first piece", "<b>bold</b> and <b>more</b>", "bold and more"},
        {"overlapping pieces", "<a<b>", ""},
        {"not only HTML", "a < b > c", "a  c"},
        {"unmatched <", "a<b", "a<b"},
        {"unmatched >", "a>b", "a>b"},
        {"< after the last >", "<b>x<", "x<"},
        {"empty tag", "a<>b", "ab"},
        {"nested <", "<<>>", ">"},
        {"each case by its own piece", "<B>x</B><b>y</b>", "xy"},
        {"table cells", "<tr><td>1</td><td>2</td></tr>", "12"},
        {"attributes", "<a href=\"x\">link</a>", "link"},
        {"line breaks kept", "a<br />\r\nb", "a\r\nb"},
        {"tag formed by a deletion, deleted by a later piece", "<a><<a>a>", ""},
        {"tag formed by a deletion, no later piece", "<c><a<c>>", "<a>"},
        {"first deletion consumes the tag of a later piece", "<<b>b>", "b>"},
        {"GBK text kept", "\xB2\xE9<b>\xD1\xAF</b>", "\xB2\xE9\xD1\xAF"},  // 查 询
        {"trail byte 0x3C is no <", "\xB0<b>x", "\xB0<b>x"},
        {"trail byte 0x3E is no >", "<a\xB0>b>x", "x"},
        {"lead byte at the end", "<b>x\xB0", "x\xB0"},
    };
    for (const Case& c : cases) {
        Text stripped = stripTags(c.text);
        EXPECT_EQ(stripped, c.expected) << c.name << ": " << showBytes(stripped);
        EXPECT_EQ(testing::literalStripTags(c.text), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tessaly
