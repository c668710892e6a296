// The WHOIS server table: its keys in order, which keys share a server, and the lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/reference_strip_tags.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using testing::showBytes;

const std::string zhongguo = "\xD6\xD0\xB9\xFA";  // 中国
const std::string gongsi = "\xB9\xAB\xCB\xBE";    // 公司
const std::string wangluo = "\xCD\xF8\xC2\xE7";   // 网络

std::vector<std::string> tableKeys() {
    std::vector<std::string> keys;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        keys.emplace_back(entry.key);
    }
    return keys;
}

TEST(WhoisServerTable, KeysInTableOrder) {
    const std::vector<std::string> keys = tableKeys();
    ASSERT_EQ(keys.size(), 158u);
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), 158u);

    const std::vector<std::string> head = {"com", "net",  "cn",   "org",    "info", "tv",    "cc",
                                           "biz", "asia", "name", "edu",    "gov",  "tel",   "mobi",
                                           "so",  "co",   "me",   zhongguo, gongsi, wangluo, "tk",
                                           "ml",  "ga",   "cf",   "sm",     "jp"};
    ASSERT_TRUE(std::equal(head.begin(), head.end(), keys.begin()));
    // Then every other key alphabetically from "ac" to "za", and "sx" last.
    const std::vector<std::string> middle(keys.begin() + head.size(), keys.end() - 1);
    EXPECT_TRUE(std::is_sorted(middle.begin(), middle.end()));
    EXPECT_EQ(middle.front(), "ac");
    EXPECT_EQ(middle.back(), "za");
    EXPECT_EQ(keys.back(), "sx");
}

TEST(WhoisServerTable, KeysAreLabelsAndServersAreHostNames) {
    const std::set<std::string> chinese = {zhongguo, gongsi, wangluo};
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        const std::string key(entry.key);
        EXPECT_TRUE(chinese.count(key) == 1 ||
                    (!key.empty() && std::all_of(key.begin(), key.end(),
                                                 [](char c) { return c >= 'a' && c <= 'z'; })))
            << showBytes(key);
        const std::string server(entry.server);
        EXPECT_TRUE(server.find('.') != std::string::npos &&
                    std::all_of(server.begin(), server.end(),
                                [](char c) {
                                    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                           c == '.' || c == '-';
                                }))
            << key << " -> " << server;
    }
}

TEST(WhoisServerTable, SharedServersAndTheirGroups) {
    std::map<std::string, std::vector<std::string>> keysByServer;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        keysByServer[std::string(entry.server)].emplace_back(entry.key);
    }
    EXPECT_EQ(keysByServer.size(), 121u);

    std::set<std::vector<std::string>> shared;
    for (const auto& [server, keys] : keysByServer) {
        if (keys.size() > 1) {
            shared.insert(keys);
        }
    }
    const std::set<std::vector<std::string>> expected = {
        {"com", "net", "cn", "org", "info", "tv", "cc", "biz", "asia", "tel", "mobi", "so", "co",
         "me", zhongguo, gongsi, wangluo},
        {"al", "az", "ba", "cy", "eg", "gb", "ge", "gm", "gr", "mc", "mk", "mt", "va", "yu"},
        {"hn", "la", "sc", "vc"},
        {"cx", "dm", "nf"},
        {"ru", "su"},
        {"tc", "vg"},
        {"tl", "tp"},
    };
    EXPECT_EQ(shared, expected);
    EXPECT_EQ(keysByServer[std::string(registrarWhoisHost)].size(), 17u);
    EXPECT_EQ(whoisServerFor("al"), "whois.ripe.net");  // the European regional registry
}

TEST(WhoisServerFor, AnswersOnlyForExactKeys) {
    struct Case {
        std::string label;
        std::string server;
    };
    const std::string registrar(registrarWhoisHost);
    const Case cases[] = {
        {"com", registrar},
        {"cn", registrar},
        {zhongguo, registrar},
        {gongsi, registrar},
        {wangluo, registrar},
        // The same characters in UTF-8 are no key.
        {"\xE4\xB8\xAD\xE5\x9B\xBD", ""},
        {"\xE5\x85\xAC\xE5\x8F\xB8", ""},
        {"\xE7\xBD\x91\xE7\xBB\x9C", ""},
        {"COM", ""},
        {"Com", ""},
        {"com ", ""},
        {" com", ""},
        {"com/", ""},
        {"example.com", ""},
        {".com", ""},
        {"", ""},
        {"xyz", ""},
        {zhongguo.substr(0, 2), ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(whoisServerFor(c.label), c.server) << showBytes(c.label);
    }
}

TEST(WhoisServerFor, OwnAndSharedServers) {
    for (const char* key : {"name", "edu", "gov"}) {
        EXPECT_FALSE(whoisServerFor(key).empty()) << key;
        EXPECT_NE(whoisServerFor(key), registrarWhoisHost) << key;
    }
    const std::pair<const char*, const char*> sameServer[] = {
        {"su", "ru"}, {"tp", "tl"}, {"yu", "al"}, {"vg", "tc"}, {"nf", "cx"}, {"vc", "hn"},
    };
    for (const auto& [key, other] : sameServer) {
        EXPECT_FALSE(whoisServerFor(key).empty()) << key;
        EXPECT_EQ(whoisServerFor(key), whoisServerFor(other)) << key;
    }
    // Every key finds its own entry.
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        EXPECT_EQ(whoisServerFor(entry.key), entry.server) << showBytes(entry.key);
    }
}

}  // namespace
}  // namespace tessaly
