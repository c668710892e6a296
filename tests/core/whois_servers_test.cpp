// The WHOIS server table against whois_servers.list, the file it is built from: the same
// entries in the same order, which keys share a server, the table order and the lookup.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/show_bytes.h"
#include "text/codepage.h"
#include "whois/whois_servers.h"

namespace tessaly {
namespace {

using testing::showBytes;

const std::string zhongguo = "\xD6\xD0\xB9\xFA";  // 中国
const std::string gongsi = "\xB9\xAB\xCB\xBE";    // 公司
const std::string wangluo = "\xCD\xF8\xC2\xE7";   // 网络

// One key line of the list, read on its own terms: "key host" or "key @name", with the
// names defined by "@name host" lines.
struct ListedKey {
    int line = 0;
    std::string key;     // GBK bytes of the key written in UTF-8
    std::string server;  // the host, written out or through the name
    std::string name;    // "@name" when the server was given by name, else empty
};

struct ServerList {
    std::map<std::string, std::string> hostOfName;  // "@registrar" -> its host
    std::vector<ListedKey> keys;                    // in file order
};

ServerList readServerList() {
    const std::string path = TESSALY_WHOIS_SERVER_LIST;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    ServerList list;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        const std::string where = path + ":" + std::to_string(line);
        std::istringstream fields(text.substr(0, text.find('#')));
        std::string first, second, more;
        if (!(fields >> first)) {
            continue;
        }
        if (!(fields >> second) || fields >> more) {
            throw std::runtime_error(where + ": not two fields");
        }
        if (first.front() == '@') {
            list.hostOfName[first] = second;
        } else if (second.front() != '@') {
            list.keys.push_back({line, utf8ToGbk(first), second, ""});
        } else if (list.hostOfName.count(second) == 1) {
            list.keys.push_back({line, utf8ToGbk(first), list.hostOfName[second], second});
        } else {
            throw std::runtime_error(where + ": unknown name " + second);
        }
    }
    return list;
}

// Keys grouped by what they share: the compiled table's server, or the list's server name
// (a host written out is a group of its one key).
using Groups = std::set<std::vector<std::string>>;

Groups groupsOf(const std::map<std::string, std::vector<std::string>>& keysBy) {
    Groups groups;
    for (const auto& [by, keys] : keysBy) {
        groups.insert(keys);
    }
    return groups;
}

std::vector<std::string> tableKeys() {
    std::vector<std::string> keys;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        keys.emplace_back(entry.key);
    }
    return keys;
}

std::vector<std::string> tableKeysOf(std::string_view server) {
    std::vector<std::string> keys;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        if (entry.server == server) {
            keys.emplace_back(entry.key);
        }
    }
    return keys;
}

static_assert(!registrarWhoisHost.empty() && registrarWhoisHost.find('.') != std::string_view::npos,
              "registrarWhoisHost is usable in constant expressions");

TEST(WhoisServerTable, IsTheListInFileOrder) {
    const ServerList list = readServerList();
    const std::span<const WhoisServerEntry> table = whoisServerTable();
    ASSERT_FALSE(list.keys.empty());
    ASSERT_EQ(table.size(), list.keys.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ListedKey& listed = list.keys[i];
        EXPECT_EQ(std::string(table[i].key), listed.key) << "line " << listed.line;
        EXPECT_EQ(table[i].server, listed.server) << "line " << listed.line;
    }
    ASSERT_EQ(list.hostOfName.count("@registrar"), 1u);
    EXPECT_EQ(registrarWhoisHost, list.hostOfName.at("@registrar"));
}

TEST(WhoisServerTable, EveryKeyOnceAsALabelAndServersAreHostNames) {
    const std::vector<std::string> keys = tableKeys();
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size());

    const std::set<std::string> chinese = {zhongguo, gongsi, wangluo};
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        const std::string key(entry.key);
        EXPECT_TRUE(chinese.count(key) == 1 ||
                    (!key.empty() && std::all_of(key.begin(), key.end(),
                                                 [](char c) { return c >= 'a' && c <= 'z'; })))
            << showBytes(key);
        const std::string server(entry.server);
        EXPECT_TRUE(server.find('.') != std::string::npos && server.front() != '.' &&
                    server.back() != '.' && server.find("..") == std::string::npos &&
                    std::all_of(server.begin(), server.end(),
                                [](char c) {
                                    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                           c == '.' || c == '-';
                                }))
            << showBytes(key) << " -> " << server;
    }
}

TEST(WhoisServerTable, KeysInTableOrder) {
    const std::vector<std::string> keys = tableKeys();
    const std::vector<std::string> head = {"com", "net",  "cn",   "org",    "info", "tv",    "cc",
                                           "biz", "asia", "name", "edu",    "gov",  "tel",   "mobi",
                                           "so",  "co",   "me",   zhongguo, gongsi, wangluo, "tk",
                                           "ml",  "ga",   "cf",   "sm",     "jp"};
    ASSERT_GT(keys.size(), head.size() + 2);
    ASSERT_TRUE(std::equal(head.begin(), head.end(), keys.begin()));
    // Then every other key alphabetically from "ac" to "za", and "sx" last.
    const std::vector<std::string> middle(keys.begin() + head.size(), keys.end() - 1);
    EXPECT_TRUE(std::is_sorted(middle.begin(), middle.end()));
    EXPECT_EQ(middle.front(), "ac");
    EXPECT_EQ(middle.back(), "za");
    EXPECT_EQ(keys.back(), "sx");
}

TEST(WhoisServerTable, SharedServersAreTheListsNamedGroups) {
    const ServerList list = readServerList();
    std::map<std::string, std::vector<std::string>> keysByName;
    for (const ListedKey& listed : list.keys) {
        // A host written out stands for its one key: a server of several keys is named once.
        keysByName[listed.name.empty() ? "line " + std::to_string(listed.line) : listed.name]
            .push_back(listed.key);
    }
    std::map<std::string, std::vector<std::string>> keysByServer;
    for (const WhoisServerEntry& entry : whoisServerTable()) {
        keysByServer[std::string(entry.server)].emplace_back(entry.key);
    }
    EXPECT_EQ(groupsOf(keysByServer), groupsOf(keysByName));

    // The registrar's group is the group of registrarWhoisHost, the Chinese keys with it.
    const std::vector<std::string> registrarKeys = tableKeysOf(registrarWhoisHost);
    EXPECT_EQ(registrarKeys, keysByName["@registrar"]);
    for (const std::string& key :
         {std::string("com"), std::string("cn"), zhongguo, gongsi, wangluo}) {
        EXPECT_EQ(std::count(registrarKeys.begin(), registrarKeys.end(), key), 1) << showBytes(key);
    }

    // Amid the registrar's keys in table order, these three have servers of their own.
    for (const char* key : {"name", "edu", "gov"}) {
        const Text server = whoisServerFor(key);
        EXPECT_FALSE(server.empty()) << key;
        EXPECT_EQ(tableKeysOf(server), std::vector<std::string>{key}) << key;
    }
    const std::pair<const char*, const char*> sameServer[] = {
        {"su", "ru"}, {"tp", "tl"}, {"yu", "al"}, {"vg", "tc"}, {"nf", "cx"}, {"vc", "hn"},
    };
    for (const auto& [key, other] : sameServer) {
        EXPECT_FALSE(whoisServerFor(key).empty()) << key;
        EXPECT_EQ(whoisServerFor(key), whoisServerFor(other)) << key;
        EXPECT_NE(whoisServerFor(key), registrarWhoisHost) << key;
    }
}

TEST(WhoisServerFor, AnswersEveryKeyOfTheListWithItsServer) {
    for (const ListedKey& listed : readServerList().keys) {
        EXPECT_EQ(whoisServerFor(listed.key), listed.server) << "line " << listed.line;
    }
}

TEST(WhoisServerFor, AnswersNothingForWhatIsNoKey) {
    const std::string notKeys[] = {
        // The Chinese keys in UTF-8 rather than GBK.
        "\xE4\xB8\xAD\xE5\x9B\xBD",
        "\xE5\x85\xAC\xE5\x8F\xB8",
        "\xE7\xBD\x91\xE7\xBB\x9C",
        "COM",
        "Com",
        "com ",
        " com",
        "com/",
        "example.com",
        ".com",
        "",
        "xyz",
        zhongguo.substr(0, 2),
    };
    for (const std::string& label : notKeys) {
        EXPECT_EQ(whoisServerFor(label), "") << showBytes(label);
    }
}

}  // namespace
}  // namespace tessaly
