// Domain names as the DNS and the registries take them: A-labels for labels outside ASCII,
// and nothing for text that is no domain name.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/show_bytes.h"
#include "text/idna.h"

namespace tessaly {
namespace {

using testing::showBytes;

TEST(ToALabels, AsciiAndGbkNames) {
    struct Case {
        std::string gbk;
        std::optional<std::string> ascii;
    };
    const std::string label63(63, 'a');
    const Case cases[] = {
        {"example.com", "example.com"},
        {"WWW.Example.COM", "www.example.com"},
        {"example.com.", "example.com"},  // the root's empty label
        {"_dmarc.example.com", "_dmarc.example.com"},
        {"\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA", "xn--fsqu00a.xn--fiqs8s"},  // 例子.中国
        {"\xD6\xD0\xB9\xFA", "xn--fiqs8s"},                               // 中国 alone
        {"xn--fsqu00a.xn--fiqs8s", "xn--fsqu00a.xn--fiqs8s"},
        {label63 + ".com", label63 + ".com"},
        // No domain names.
        {"", std::nullopt},
        {".", std::nullopt},
        {"a b.com", std::nullopt},
        {" example.com", std::nullopt},
        {"a..b", std::nullopt},
        {".com", std::nullopt},
        {"example.com/", std::nullopt},
        {"http://example.com", std::nullopt},
        {label63 + "a.com", std::nullopt},
        {std::string(130, 'a') + "." + std::string(130, 'b'), std::nullopt},
        {"-a.com", std::nullopt},
        {"\xFF\xFF.com", std::nullopt},  // not GBK
        {"\xD6\xD0\xB9", std::nullopt},  // a lead byte cut off
        {std::string("a\0b.com", 7), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toALabels(c.gbk), c.ascii) << showBytes(c.gbk);
    }
}

}  // namespace
}  // namespace tessaly
