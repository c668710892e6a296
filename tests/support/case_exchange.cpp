#include "support/case_exchange.h"

#include <stdexcept>

namespace tessaly::testing {
namespace {

CannedReply replyFrom(const CaseSection& data, const CaseVariables& variables) {
    static const std::map<std::string, CannedReply::Fault> faults = {
        {"never-answer", CannedReply::Fault::neverAnswer},
        {"close-early", CannedReply::Fault::closeEarly},
        {"wrong-length", CannedReply::Fault::wrongContentLength},
        {"broken-chunked", CannedReply::Fault::brokenChunked},
        {"redirect-loop", CannedReply::Fault::redirectLoop},
    };
    const std::string fault = data.attribute("fault");
    if (!fault.empty()) {
        const auto it = faults.find(fault);
        if (it == faults.end()) {
            throw std::runtime_error("unknown fault \"" + fault + "\"");
        }
        return CannedReply::failing(it->second);
    }
    CannedReply reply =
        CannedReply::ok(sectionText(data, variables), std::stoi(data.attribute("status", "200")));
    reply.location = data.attribute("location");
    const std::string header = data.attribute("header");
    if (!header.empty()) {
        reply.headers.push_back(header);
    }
    return reply;
}

int repeatOf(const CaseBlock& block) {
    return std::stoi(block.attribute("repeat", "1"));
}

}  // namespace

std::vector<CannedReply> replyScriptOf(const CaseFile& file, const CaseVariables& variables) {
    std::vector<CannedReply> script;
    for (const CaseBlock* reply : file.all("reply")) {
        for (int i = repeatOf(*reply); i > 0; --i) {
            for (const CaseSection& data : reply->sections) {
                if (data.name == "data") {
                    script.push_back(replyFrom(data, variables));
                }
            }
        }
    }
    return script;
}

std::vector<std::string> expectedRequestsOf(const CaseFile& file, const CaseVariables& variables) {
    std::vector<std::string> requests;
    for (const CaseBlock* verify : file.all("verify")) {
        for (int i = repeatOf(*verify); i > 0; --i) {
            for (const CaseSection& section : verify->sections) {
                if (section.name == "protocol") {
                    requests.push_back(sectionText(section, variables));
                }
            }
        }
    }
    return requests;
}

std::string expectedOutputOf(const CaseFile& file, const CaseVariables& variables) {
    for (const CaseBlock* verify : file.all("verify")) {
        if (const CaseSection* output = verify->section("output")) {
            return sectionText(*output, variables);
        }
    }
    throw std::runtime_error(file.path + ": no <output> in <verify>");
}

std::string clientValue(const CaseFile& file, const std::string& section,
                        const std::string& otherwise) {
    const CaseBlock* client = file.block("client");
    const CaseSection* found = client != nullptr ? client->section(section) : nullptr;
    return found != nullptr ? sectionText(*found) : otherwise;
}

}  // namespace tessaly::testing
