// What a case file (tests/data/README.md) asks of a loopback exchange: the replies the HTTP
// server plays, the requests the client must have sent, the text the box must end with.
#pragma once

#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "net/request.h"
#include "support/case_file.h"
#include "support/http_server.h"

namespace tessaly::testing {

using CaseVariables = std::map<std::string, std::string>;

// Every <data> section of the <reply> blocks in file order, each block as often as its
// repeat says: a canned reply with the section's status (200 by default) and body, or the
// fault its fault="..." names (never-answer, close-early, wrong-length, broken-chunked,
// redirect-loop).
std::vector<CannedReply> replyScriptOf(const CaseFile& file, const CaseVariables& variables = {});

// Every <protocol> section of the <verify> blocks in file order, each block as often as its
// repeat says, with the variables put in: the requests as they must arrive, byte for byte.
std::vector<std::string> expectedRequestsOf(const CaseFile& file,
                                            const CaseVariables& variables = {});

// The <output> section of the <verify> block: what the box must hold at the end. Throws
// std::runtime_error when the file has none.
std::string expectedOutputOf(const CaseFile& file, const CaseVariables& variables = {});

// The content of a section of the <client> block after the conversions, or otherwise when
// the block or the section is missing.
std::string clientValue(const CaseFile& file, const std::string& section,
                        const std::string& otherwise = "");

// The run's cookie store starts empty and is emptied again when this goes: a case sees
// only the cookies its own replies set.
struct ForgetCookies {
    ForgetCookies() { forgetCookies(); }
    ~ForgetCookies() { forgetCookies(); }
    ForgetCookies(const ForgetCookies&) = delete;
    ForgetCookies& operator=(const ForgetCookies&) = delete;
};

// A test name from a case file's path: its stem with every other character than letters and
// digits made "_" (for INSTANTIATE_TEST_SUITE_P).
template <class ParamInfo>
std::string caseTestName(const ParamInfo& info) {
    std::string name = std::filesystem::path(info.param).stem().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

}  // namespace tessaly::testing
