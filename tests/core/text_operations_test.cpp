// The text operations on GBK byte strings: one table of cases per operation.
//
// GBK characters are written as escaped bytes. A literal is split wherever a hex digit
// letter follows an escape ("\xB0" "a"), or the compiler would read it as one escape.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/show_bytes.h"
#include "support/naive_text_scans.h"
#include "text/text.h"

namespace tessaly {
namespace {

using namespace std::string_literals;
using testing::showBytes;

TEST(TextLength, CountsBytes) {
    struct Case {
        std::string text;
        long expected;
    };
    const Case cases[] = {
        {"", 0},
        {"a", 1},
        {"www.example.com", 15},
        {"\xCE\xB4\xD6\xAA", 4},                 // 未知
        {"\xB2\xE9\xD1\xAF\xD6\xD0......", 12},  // 查询中......
        {"\xB0", 1},                             // a lead byte alone
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textLength(c.text), c.expected) << showBytes(c.text);
    }
    EXPECT_EQ(textLength(unknownText), 4);
    EXPECT_EQ(textLength(busyText), 12);
}

TEST(SameText, ComparesBytesExactly) {
    struct Case {
        std::string a;
        std::string b;
        bool expected;
    };
    const Case cases[] = {
        {"", "", true},
        {"abc", "abc", true},
        {"abc", "ABC", false},  // no case folding
        {"abc", "abc ", false},
        {" abc", "abc", false},
        {"abc\r\n", "abc", false},  // no trimming
        {"", "a", false},
        {"\xCE\xB4\xD6\xAA", std::string(unknownText), true},       // 未知
        {"\xCE\xB4\xD6\xAA\r\n", std::string(unknownText), false},  // 未知 CR LF
        {"\xCE\xB4", std::string(unknownText), false},              // 未 alone
        {"\xB0\x41", "\xB0\x61", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sameText(c.a, c.b), c.expected) << showBytes(c.a) << " vs " << showBytes(c.b);
        EXPECT_EQ(sameText(c.b, c.a), c.expected) << showBytes(c.b) << " vs " << showBytes(c.a);
    }
    // An absent text is the empty text.
    EXPECT_TRUE(sameText(std::string_view(), ""));
    EXPECT_FALSE(sameText(std::string_view(), unknownText));
}

TEST(JoinTexts, PutsTextsEndToEnd) {
    EXPECT_EQ(joinTexts("a", "b"), "ab");
    EXPECT_EQ(joinTexts("<", "td", ">"), "<td>");
    EXPECT_EQ(joinTexts("", "", ""), "");
    EXPECT_EQ(joinTexts("a", "", "b"), "ab");
    EXPECT_EQ(joinTexts(std::string("x"), std::string_view("y"), "z"), "xyz");
    // Double-byte characters stay whole across the seams: 查询 + 中.
    EXPECT_EQ(joinTexts("\xB2\xE9\xD1\xAF", "\xD6\xD0"), "\xB2\xE9\xD1\xAF\xD6\xD0");
    EXPECT_EQ(joinTexts({"a", "b", "c", "d"}), "abcd");
}

TEST(CharFromCode, GivesOneByte) {
    struct Case {
        int code;
        std::string expected;
    };
    const Case cases[] = {
        {10, "\n"}, {13, "\r"}, {32, " "}, {65, "A"}, {0x7E, "~"}, {0xB0, "\xB0"}, {0xFF, "\xFF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(charFromCode(c.code), c.expected) << c.code;
    }
    EXPECT_EQ(joinTexts(charFromCode(13), charFromCode(10)), "\r\n");
}

TEST(MidText, CutsBytes) {
    struct Case {
        const char* name;
        std::string text;
        long start;
        long count;
        std::string expected;
    };
    const Case cases[] = {
        {"from the first byte", "abcdef", 1, 3, "abc"},
        {"from the middle", "abcdef", 3, 2, "cd"},
        {"the last byte", "abcdef", 6, 1, "f"},
        {"count past the end gives fewer", "abcdef", 5, 10, "ef"},
        {"whole text", "abcdef", 1, 6, "abcdef"},
        {"count zero", "abcdef", 2, 0, ""},
        {"negative count", "abcdef", 2, -1, ""},
        {"start zero", "abcdef", 0, 3, ""},
        {"negative start", "abcdef", -2, 5, ""},
        {"start one past the end", "abcdef", 7, 1, ""},
        {"start far past the end", "abcdef", 1000, 1, ""},
        {"empty text", "", 1, 1, ""},
        {"huge count does not overflow", "abcdef", 2, LONG_MAX, "bcdef"},
        {"huge start", "abcdef", LONG_MAX, LONG_MAX, ""},
        // Bytes, not characters: a cut may split a double-byte character.
        {"splits a character", "\xB2\xE9\xD1\xAF", 2, 2, "\xE9\xD1"},  // 查询
        {"trail byte alone", "\xB0\x41", 2, 1, "A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(midText(c.text, c.start, c.count), c.expected) << c.name;
    }
}

struct FindCase {
    const char* name;
    std::string text;
    std::string what;
    long start;
    bool ignoreCase;
    long expected;
};

TEST(FindText, FindsFirstOccurrenceAtOrAfterStart) {
    const FindCase cases[] = {
        {"first occurrence", "abcabc", "bc", 1, false, 2},
        {"start 0 is the first byte", "abc", "a", 0, false, 1},
        {"start 1 is the first byte", "abc", "a", 1, false, 1},
        {"later start skips the first", "abcabc", "bc", 3, false, 5},
        {"start right on a match", "abcabc", "bc", 5, false, 5},
        {"start on the last byte", "abc", "c", 3, false, 3},
        {"start beyond the last byte", "abc", "c", 4, false, -1},
        {"start far beyond", "abc", "a", 100, false, -1},
        {"not there", "abc", "d", 1, false, -1},
        {"what longer than text", "ab", "abc", 1, false, -1},
        {"what cut off by the end", "xxab", "abc", 1, false, -1},
        {"match at the very end", "xxabc", "abc", 1, false, 3},
        {"empty text", "", "a", 1, false, -1},
        {"overlapping candidates", "aaab", "aab", 1, false, 2},
        {"GBK what", "\xB2\xE9\xD1\xAF\xD6\xD0", "\xD1\xAF", 1, false, 3},  // 询 in 查询中
        {"unknown text after a byte", "x\xCE\xB4\xD6\xAA", "\xCE\xB4\xD6\xAA", 1, false, 2},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(findText(c.text, c.what, c.start, c.ignoreCase), c.expected) << c.name;
    }
    EXPECT_EQ(findText("abcabc", "c"), 3);  // start and ignoreCase left out
}

TEST(FindText, FoldsAsciiLettersOnlyWhenAsked) {
    const FindCase cases[] = {
        {"exact by default", "ABC", "b", 1, false, -1},
        {"upper text, lower what", "x<PRE>", "<pre>", 1, true, 2},
        {"mixed case", "</Pre>", "</pRE>", 1, true, 1},
        {"lower text, upper what", "abc", "BC", 1, true, 2},
        {"@ and ` are not letters", "@", "`", 1, true, -1},
        {"[ and { are not letters", "[", "{", 1, true, -1},
        {"^ and ~ are not letters", "^", "~", 1, true, -1},
        {"high bytes 0x20 apart stay apart", "\xC1\xA1", "\xE1\xA1", 1, true, -1},
        {"letter after a GBK character still folds",
         "\xB0\xA1"
         "A",
         "\xB0\xA1"
         "a",
         1, true, 1},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(findText(c.text, c.what, c.start, c.ignoreCase), c.expected) << c.name;
    }
}

// A byte of 0x80 or more and the byte after it are one character; a match is tried only
// where a character begins, counted from where the scan starts.
TEST(FindText, StepsByDoubleByteCharacters) {
    const FindCase cases[] = {
        {"trail 0x5C is no backslash", "\xB0\x5C", "\\", 1, false, -1},
        {"trail 0x41 is no A", "\xB0\x41", "A", 1, false, -1},
        {"trail 0x41 is no a either, ignoring case", "\xB0\x41", "a", 1, true, -1},
        {"trail 0x3C is no <", "\xB0<", "<", 1, false, -1},
        {"A after the character is found",
         "\xB0\x41"
         "A",
         "A", 1, false, 3},
        {"a high trail byte is skipped too",
         "\xB0\xA1"
         "A",
         "A", 1, false, 3},
        {"backslash n after a character", "\xB0\x5C\x5Cn", "\\n", 1, false, 3},
        {"backslash n inside a character", "\xB0\x5Cn", "\\n", 1, false, -1},
        {"no match across a character boundary", "\xB0\xA1\xB0\xA1", "\xA1\xB0", 1, false, -1},
        {"a lead byte alone matches where a character begins", "\xB0\xA1", "\xB0", 1, false, 1},
        {"scan starting on a trail byte counts from there", "\xB0\x41", "A", 2, false, 2},
        {"scan starting on a high trail byte pairs it with the next", "\xB0\xA1\x41", "A", 2, false,
         -1},
        {"trail byte never folded", "\xB0\x41", "\xB0\x61", 1, true, -1},
        {"trail byte exact match", "\xB0\x41", "\xB0\x41", 1, true, 1},
        {"lead byte at the end ends the scan", "a\xB0", "\xB0", 1, false, -1},
        {"match begun before a final lead byte", "a\xB0", "a\xB0", 1, false, 1},
        {"characters before the final lead byte are scanned",
         "\xB0\xA1"
         "a\xB0",
         "a", 1, false, 3},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(findText(c.text, c.what, c.start, c.ignoreCase), c.expected) << c.name;
    }
}

struct ReplaceCase {
    const char* name;
    std::string text;
    std::string old;
    std::string replacement;
    bool caseSensitive;
    std::string expected;
};

TEST(ReplaceText, ReplacesLeftToRightWithoutRescan) {
    const ReplaceCase cases[] = {
        {"LF to CR LF", "a\nb\n", "\n", "\r\n", true, "a\r\nb\r\n"},
        {"CR LF becomes CR CR LF", "a\r\nb", "\n", "\r\n", true, "a\r\r\nb"},
        {"adjacent LFs", "\n\n", "\n", "\r\n", true, "\r\n\r\n"},
        {"nothing to replace", "abc", "\n", "\r\n", true, "abc"},
        {"empty old leaves the text", "abc", "", "x", true, "abc"},
        {"empty text stays empty", "", "a", "b", true, ""},
        {"empty new deletes", "a<br />b<br />", "<br />", "", true, "ab"},
        {"deletes ();CR LF", "a();\r\nb();\r\n", "();\r\n", "", true, "ab"},
        {"no overlap", "aaa", "aa", "b", true, "ba"},
        {"new never rescanned", "a", "a", "aa", true, "aa"},
        {"new plus following text not rescanned", "aab", "ab", "b", true, "ab"},
        {"old at both ends", "xax", "x", "yy", true, "yyayy"},
        {"longer new", "<br/>x<br/>", "<br/>", "\r\n", true, "\r\nx\r\n"},
        {"JSON line feed escape", "a\\nb\\n", "\\n", "\r\n", true, "a\r\nb\r\n"},
        {"JSON tab escape", "a\\tb", "\\t", " ", true, "a b"},
        {"GBK old", "\xCE\xB4\xD6\xAA-\xCE\xB4\xD6\xAA", "\xCE\xB4\xD6\xAA", "x", true, "x-x"},
        {"entities", "&lt;a&gt; &quot;", "&quot;", "\"", true, "&lt;a&gt; \""},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(replaceText(c.text, c.old, c.replacement, c.caseSensitive), c.expected) << c.name;
    }
    EXPECT_EQ(replaceText("a\nb", "\n", "\r\n"), "a\r\nb");  // defaults: byte-exact
}

TEST(ReplaceText, CaseFolding) {
    const ReplaceCase cases[] = {
        {"byte-exact keeps the other case", "<B>x<b>", "<b>", "", true, "<B>x"},
        {"http:// in any case", "HTTP://a http://b Http://c hTtP://d", "http://", "", false,
         "a b c d"},
        {"https is not http://", "https://a", "http://", "", false, "https://a"},
        {"@ is not `", "a@b", "`", "x", false, "a@b"},
        {"trail byte never folded", "\xB0\x41", "\xB0\x61", "x", false, "\xB0\x41"},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(replaceText(c.text, c.old, c.replacement, c.caseSensitive), c.expected) << c.name;
    }
}

TEST(ReplaceText, StepsByDoubleByteCharacters) {
    const ReplaceCase cases[] = {
        {"trail 0x5C of a JSON escape", "\xB0\x5Cn", "\\n", "\r\n", true, "\xB0\x5Cn"},
        {"escape after a character", "\xB0\x5C\x5Cn", "\\n", "\r\n", true, "\xB0\x5C\r\n"},
        {"trail A kept",
         "\xB0\x41"
         "A",
         "A", "b", true,
         "\xB0\x41"
         "b"},
        {"LF swallowed as a trail byte stays", "\xB0\n", "\n", "\r\n", true, "\xB0\n"},
        {"no match across a character boundary", "\xB0\xA1\xB0\xA1", "\xA1\xB0", "x", true,
         "\xB0\xA1\xB0\xA1"},
        {"lead byte at the end ends the scan", "ab\xB0", "\xB0", "x", true, "ab\xB0"},
        {"text before a final lead byte replaced", "a\nb\xB0", "\n", "\r\n", true, "a\r\nb\xB0"},
        {"tag after GBK text", "\xB2\xE9<b>\xD1\xAF", "<b>", "", true, "\xB2\xE9\xD1\xAF"},
    };
    for (const ReplaceCase& c : cases) {
        EXPECT_EQ(replaceText(c.text, c.old, c.replacement, c.caseSensitive), c.expected) << c.name;
    }
}

TEST(ReplaceText, StartAndCount) {
    struct Case {
        const char* name;
        long start;
        long count;
        std::string expected;
    };
    const Case cases[] = {
        {"every occurrence", 1, -1, "bXbXb"},
        {"bytes before start kept", 2, -1, "aXbXb"},
        {"start on the last occurrence", 5, -1, "aXaXb"},
        {"start beyond the end", 6, -1, "aXaXa"},
        {"only the first", 1, 1, "bXaXa"},
        {"the first two", 1, 2, "bXbXa"},
        {"none", 1, 0, "aXaXa"},
        {"start and count together", 2, 1, "aXbXa"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(replaceText("aXaXa", "a", "b", true, c.start, c.count), c.expected) << c.name;
    }
}

TEST(SplitText, KeepsInnerEmptyPiecesDropsTrailingOne) {
    struct Case {
        const char* name;
        std::string text;
        std::string delimiter;
        TextList expected;
    };
    const Case cases[] = {
        {"trailing delimiter", "a.b.", ".", {"a", "b"}},
        {"leading delimiter", ".b", ".", {"", "b"}},
        {"plain", "a.b", ".", {"a", "b"}},
        {"three labels", "www.example.com", ".", {"www", "example", "com"}},
        {"adjacent delimiters", "a..b", ".", {"a", "", "b"}},
        {"delimiter alone", ".", ".", {""}},
        {"two delimiters alone", "..", ".", {"", ""}},
        {"no delimiter", "abc", ".", {"abc"}},
        {"empty text", "", ".", {}},
        {"longer delimiter", "a<br>b<br>c", "<br>", {"a", "b", "c"}},
        {"byte-exact delimiter", "aXbxc", "x", {"aXb", "c"}},
        {"delimiter as a trail byte",
         "\xB0\x5C"
         "a\\b",
         "\\",
         {"\xB0\x5C"
          "a",
          "b"}},
        {"dot as a trail byte", "\xB0.a.b", ".", {"\xB0.a", "b"}},
        {"GBK pieces", "\xB2\xE9.\xD1\xAF", ".", {"\xB2\xE9", "\xD1\xAF"}},
        {"lead byte at the end stays in the last piece", "a.\xB0", ".", {"a", "\xB0"}},
        {"lead byte at the end is no delimiter", "a\xB0", "\xB0", {"a\xB0"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(splitText(c.text, c.delimiter), c.expected) << c.name;
    }
}

TEST(BytesToText, StopsAtFirstZeroByte) {
    struct Case {
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {""s, ""},
        {"abc"s, "abc"},
        {"ab\0cd"s, "ab"},
        {"\0abc"s, ""},
        {"1.11\0garbage"s, "1.11"},
        {"\xCE\xB4\xD6\xAA"s, "\xCE\xB4\xD6\xAA"},  // 未知, unchanged
        {"\xB0\0\x41"s, "\xB0"},
        {"\xFF\x80\r\n"s, "\xFF\x80\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bytesToText(c.bytes), c.expected) << showBytes(c.bytes);
    }
}

TEST(TextToNumber, ReadsLongestLeadingDecimalNumber) {
    struct Case {
        std::string text;
        double expected;
    };
    const Case cases[] = {
        {"1.10", 1.1},
        {"1.1", 1.1},
        {"1.11", 1.11},
        {"1.9", 1.9},
        {"1.10.1", 1.1},
        {"42", 42},
        {"5.", 5},
        {"  1.5", 1.5},
        {"\t\r\n 2", 2},
        {"1.11\r\n", 1.11},
        {"+2.5", 2.5},
        {"-3", -3},
        {"- 3", 0},
        {"1e3", 1000},
        {"2.5E-1", 0.25},
        {"1e+2", 100},
        {"1e", 1},
        {"1e+", 1},
        {"1ex", 1},
        {"3x", 3},
        {"2<html>", 2},
        {"1.1000001", 1.1000001},
        {"", 0},
        {"abc", 0},
        {"v1.10", 0},
        {"<html><body>404</body></html>", 0},
        {"0x1A", 0},  // decimal only
        {"inf", 0},
        {"nan", 0},
        {"infinity", 0},
        {"\xCE\xB4\xD6\xAA", 0},  // 未知
        // Full-width forms: A3 B1 is 1, A3 AE the point, A1 A1 a space, A3 AD minus,
        // A3 E5 the letter e.
        {"\xA3\xB1\xA3\xAE\xA3\xB1\xA3\xB1", 1.11},
        {"\xA3\xB1\xA3\xAE\xA3\xB1\xA3\xB0", 1.1},
        {"\xA1\xA1"
         "1.2",
         1.2},
        {"\xA1\xA1\xA1\xA1\xA3\xB2", 2},
        {"\xA3\xAD"
         "5",
         -5},
        {"1\xA3\xE5"
         "2",
         100},
        {"1\xA3\xAE"
         "5",
         1.5},
        {"\xA3\xB1"
         "2\xA3\xB3",
         123},
        {"\xB0\xA1"
         "1",
         0},  // an ordinary character before the digits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textToNumber(c.text), c.expected) << showBytes(c.text);
    }
}

// The update check reads the reply and the tool's own "1.10" as numbers and announces a
// new version when the difference of the two doubles is strictly greater than 1e-7.
TEST(TextToNumber, VersionRepliesAgainstOwnVersion) {
    struct Case {
        std::string reply;
        bool newer;
    };
    const Case cases[] = {
        {"1.10", false},
        {"1.1", false},
        {"1.11", true},
        {"1.9", true},
        {"1.09", false},
        {"1.1000001", false},  // 1.1000001 - 1.1 is just below 1e-7 in doubles
        {"1.1000002", true},
        {"1.10.1", false},
        {"\xA3\xB1\xA3\xAE\xA3\xB1\xA3\xB1", true},  // full-width 1.11
        {" 1.11\r\n", true},
        {"1.11\r\n", true},
        {"", false},
        {"<html>error</html>", false},
        {"2<html>", true},
    };
    const double local = textToNumber("1.10");
    for (const Case& c : cases) {
        EXPECT_EQ(textToNumber(c.reply) - local > 1e-7, c.newer) << showBytes(c.reply);
    }
    EXPECT_EQ(textToNumber(bytesToText("1.11\0 9.99"s)) - local > 1e-7, true);
    EXPECT_EQ(textToNumber(bytesToText("\0"
                                       "9.99"s)) -
                      local >
                  1e-7,
              false);
}

TEST(BlankBytes, GivesZeroBytes) {
    struct Case {
        long n;
        std::string expected;
    };
    const Case cases[] = {
        {0, ""s}, {-1, ""s}, {LONG_MIN, ""s}, {1, "\0"s}, {3, "\0\0\0"s},
    };
    for (const Case& c : cases) {
        Bytes b = blankBytes(c.n);
        EXPECT_EQ(b, c.expected) << c.n;
        EXPECT_EQ(bytesLength(b), static_cast<long>(c.expected.size())) << c.n;
    }
    EXPECT_EQ(bytesLength(blankBytes(4096)), 4096);
    EXPECT_EQ(bytesLength(""), 0);
    EXPECT_EQ(bytesLength("ab\0cd"s), 5);  // zero bytes count
    EXPECT_EQ(bytesToText(blankBytes(8)), "");
}

// The character-stepping scans agree with a plain one-character-at-a-time loop on every
// short text over a small alphabet that holds lead bytes, trail bytes equal to ASCII
// bytes, and letters in both cases.
TEST(TextScans, AgreeWithCharacterByCharacterLoop) {
    const std::string alphabet = "aA\xB0.\n";
    const std::vector<std::string> needles = {
        "a", "A", ".", "\n", "\xB0", "\xB0\x41", "\xB0\x61", "a.", "\x41\xB0", "aa", "\xB0\xB0",
    };
    std::vector<std::string> texts = {""};
    for (std::size_t length = 1; length <= 6; ++length) {
        std::vector<std::string> longer;
        for (const std::string& t : texts) {
            if (t.size() == length - 1) {
                for (char c : alphabet) {
                    longer.push_back(t + c);
                }
            }
        }
        texts.insert(texts.end(), longer.begin(), longer.end());
    }
    for (const std::string& text : texts) {
        for (const std::string& what : needles) {
            for (long start = 0; start <= static_cast<long>(text.size()) + 1; ++start) {
                for (bool fold : {false, true}) {
                    ASSERT_EQ(findText(text, what, start, fold),
                              testing::naiveFindText(text, what, start, fold))
                        << showBytes(text) << " " << showBytes(what) << " from " << start
                        << (fold ? " ignoring case" : "");
                }
            }
            for (bool exact : {true, false}) {
                ASSERT_EQ(replaceText(text, what, "<>", exact),
                          testing::naiveReplaceText(text, what, "<>", exact))
                    << showBytes(text) << " " << showBytes(what);
            }
            ASSERT_EQ(splitText(text, what), testing::naiveSplitText(text, what))
                << showBytes(text) << " " << showBytes(what);
        }
    }
}

}  // namespace
}  // namespace tessaly
