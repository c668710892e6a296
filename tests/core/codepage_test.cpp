// Code-page conversion between the tool's GBK texts and UTF-8.
//
// GBK characters are written as escaped bytes. A literal is split wherever a hex digit
// letter follows an escape ("\xB0" "a"), or the compiler would read it as one escape.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/show_bytes.h"
#include "text/codepage.h"

namespace tessaly {
namespace {

using namespace std::string_literals;
using testing::showBytes;

struct Case {
    const char* name;
    std::string in;
    std::string expected;
};

TEST(Utf8ToLocalText, Cases) {
    const Case cases[] = {
        {"empty", "", ""},
        {"ASCII", "Domain Name: example.com\r\n", "Domain Name: example.com\r\n"},
        {"unknown text", "\xE6\x9C\xAA\xE7\x9F\xA5", "\xCE\xB4\xD6\xAA"},                // 未知
        {"full-width digit and colon", "\xEF\xBC\x91\xEF\xBC\x9A", "\xA3\xB1\xA3\xBA"},  // １：
        {"euro sign", "\xE2\x82\xAC", "\x80"},
        // The text ends at the first zero byte.
        {"zero byte", "ab\0cd"s, "ab"},
        {"zero byte first", "\0<pre>x</pre>"s, ""},
        // Characters GBK lacks become "?", one each.
        {"emoji",
         "a\xF0\x9F\x98\x80"
         "b",
         "a?b"},
        {"CJK extension A", "\xE3\x90\x80", "?"},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "a",
         "?a"},
        // Malformed UTF-8 is replaced, one "?" per bad byte, and the rest is kept.
        {"stray byte",
         "a\xFF"
         "b",
         "a?b"},
        {"truncated at the end", "a\xE6\x9C", "a??"},
        {"truncated before ASCII",
         "\xE6\x9C"
         "x",
         "??x"},
        {"overlong", "\xC0\xAF", "??"},
        {"surrogate", "\xED\xA0\x80", "???"},
        {"lone continuation", "\x80\xBF", "??"},
        // A base character and the combining marks after it are composed where a
        // precomposed character exists; nothing else is mapped.
        {"e + acute",
         "caf"
         "e\xCC\x81",
         "caf\xA8\xA6"},                                             // café
        {"u + diaeresis + acute", "u\xCC\x88\xCC\x81", "\xA8\xB6"},  // ǘ
        {"precomposed stays", "\xC3\xA9", "\xA8\xA6"},               // é
        {"composed, but GBK lacks it", "a\xCC\x8A", "?"},            // å
        {"no precomposed form", "x\xCC\x81", "x?"},
        {"mark after a non-starter",
         "\xCC\x81"
         "e",
         "?e"},
        {"a lone mark", "\xCC\x81", "?"},
        {"composes as far as the marks go", "e\xCC\x81\xCC\x81", "\xA8\xA6?"},  // é and ́
        // A compatibility ideograph keeps its own code; so does a singleton like Ω (U+2126).
        {"compatibility ideograph", "\xEF\xA4\xAC", "\xFD\x9C"},  // U+F92C
        {"singleton", "\xE2\x84\xA6", "?"},                       // not Ω's A6 B8
    };
    for (const Case& c : cases) {
        EXPECT_EQ(showBytes(utf8ToLocalText(c.in)), showBytes(c.expected)) << c.name;
    }
}

TEST(Utf8ToGbk, Cases) {
    const Case cases[] = {
        {"empty", "", ""},
        {"ASCII", "a&b=c", "a&b=c"},
        {"Chinese", "\xE4\xBE\x8B\xE5\xAD\x90", "\xC0\xFD\xD7\xD3"},  // 例子
        {"zero byte kept", "a\0b"s, "a\0b"s},
        {"emoji", "\xF0\x9F\x98\x80", "?"},
        {"malformed",
         "\xFF\xE6\x9C"
         "a",
         "???a"},
        {"no composition here", "e\xCC\x81", "e?"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(showBytes(utf8ToGbk(c.in)), showBytes(c.expected)) << c.name;
    }
}

TEST(GbkToUtf8, Cases) {
    const Case cases[] = {
        {"empty", "", ""},
        {"ASCII", "example.com", "example.com"},
        {"unknown text", "\xCE\xB4\xD6\xAA", "\xE6\x9C\xAA\xE7\x9F\xA5"},  // 未知
        {"euro sign", "\x80", "\xE2\x82\xAC"},
        {"zero byte kept", "a\0b"s, "a\0b"s},
        // Bytes that are not GBK become U+FFFD, one per bad byte; nothing is dropped.
        {"invalid byte",
         "a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"lead byte with a bad trail", "\x81\x20", "\xEF\xBF\xBD "},
        {"lead byte at the end", "ab\xB0", "ab\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(showBytes(gbkToUtf8(c.in)), showBytes(c.expected)) << c.name;
    }
}

// Every double-byte GBK character that has a Unicode form comes back as itself, through
// utf8ToLocalText too: no character is mapped to another, the compatibility ideographs
// included.
TEST(GbkToUtf8, EveryCharacterComesBack) {
    int converted = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string utf8 = gbkToUtf8(gbk);
            if (utf8.find("\xEF\xBF\xBD") != std::string::npos) {
                continue;  // an unassigned code
            }
            ++converted;
            ASSERT_EQ(showBytes(utf8ToGbk(utf8)), showBytes(gbk));
            ASSERT_EQ(showBytes(utf8ToLocalText(utf8)), showBytes(gbk));
        }
    }
    EXPECT_GT(converted, 21000);  // the whole table was walked
}

// A body made of characters GBK lacks is converted in one pass, like any other.
TEST(Utf8ToLocalText, ManyMissingCharacters) {
    std::string body;
    std::string expected;
    for (int i = 0; i < 200'000; ++i) {
        body += "a\xF0\x9F\x98\x80\xFF";
        expected += "a??";
    }
    EXPECT_EQ(utf8ToLocalText(body), expected);
}

TEST(Utf8ToLocalText, ManyThreadsAtOnce) {
    const std::string body =
        "<pre>\xE6\x9C\xAA\xE7\x9F\xA5 caf"
        "e\xCC\x81 \xF0\x9F\x98\x80</pre>";
    const std::string expected = "<pre>\xCE\xB4\xD6\xAA caf\xA8\xA6 ?</pre>";
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (utf8ToLocalText(body) != expected || gbkToUtf8(expected).empty()) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tessaly
