// The start-up update check against a loopback version endpoint, through a recording
// message-box seam.
//
// GBK characters are written as escaped bytes. A literal is split wherever a hex digit
// letter follows an escape ("\xB0" "a"), or the compiler would read it as one escape.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/version.h"
#include "net/request.h"
#include "support/http_server.h"
#include "support/memory_ports.h"
#include "support/show_bytes.h"
#include "update/update_check.h"

namespace tessaly {
namespace {

using namespace std::string_literals;
using testing::CannedReply;
using testing::HttpServer;
using testing::RecordingMessageBoxes;
using testing::RefusingPort;
using testing::showBytes;
using Fault = CannedReply::Fault;

Endpoints endpointsFor(const std::string& origin) {
    Endpoints e = fixedEndpoints();
    e.versionEndpoint.origin = origin;
    return e;
}

// 版本有更新!请至 <page> 获取最新版本 CR LF 或者至 <site> 获取新版本 CR LF
std::string expectedBoxText(const Endpoints& e) {
    return "\xB0\xE6\xB1\xBE\xD3\xD0\xB8\xFC\xD0\xC2!\xC7\xEB\xD6\xC1" + e.downloadPage.url() +
           "\xBB\xF1\xC8\xA1\xD7\xEE\xD0\xC2\xB0\xE6\xB1\xBE\r\n"
           "\xBB\xF2\xD5\xDF\xD6\xC1" +
           e.secondDownloadSite + "\xBB\xF1\xC8\xA1\xD0\xC2\xB0\xE6\xB1\xBE\r\n";
}
const std::string expectedCaption = "\xB0\xE6\xB1\xBE\xD3\xD0\xB8\xFC\xD0\xC2";  // 版本有更新

class UpdateCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { initRequests(); }
    void SetUp() override { appVersion = "1.10"; }
    void TearDown() override { releaseAppVersion(); }
};

TEST_F(UpdateCheckTest, BoxOnlyForANewerNumber) {
    struct Case {
        const char* name;
        CannedReply reply;
        bool shows;
    };
    const Case cases[] = {
        {"same", CannedReply::ok("1.10"), false},
        {"same, shorter", CannedReply::ok("1.1"), false},
        {"newer", CannedReply::ok("1.11"), true},
        {"1.9 is larger than 1.10", CannedReply::ok("1.9"), true},
        {"just below the margin", CannedReply::ok("1.1000001"), false},
        {"just above the margin", CannedReply::ok("1.1000002"), true},
        {"only the leading number", CannedReply::ok("1.10.1"), false},
        {"older", CannedReply::ok("1.09"), false},
        {"exponent", CannedReply::ok("1.2e0"), true},
        {"full-width 1.11", CannedReply::ok("\xA3\xB1\xA3\xAE\xA3\xB1\xA3\xB1"), true},  // １．１１
        {"full-width 1.10", CannedReply::ok("\xA3\xB1\xA3\xAE\xA3\xB1\xA3\xB0"),
         false},  // １．１０
        {"leading space, CR LF", CannedReply::ok(" 1.11\r\n"), true},
        {"leading space, CR LF, same", CannedReply::ok("\t 1.10\r\n"), false},
        {"zero byte ends the reply",
         CannedReply::ok("1.1\0"s
                         "5"),
         false},
        {"zero byte after a newer number",
         CannedReply::ok("2\0"s
                         "0.1"),
         true},
        {"HTML error page", CannedReply::ok("<html><body>404 Not Found</body></html>", 404), false},
        {"error page beginning with a number", CannedReply::ok("2.0 <html>oops</html>", 500), true},
        {"empty", CannedReply::ok(""), false},
        {"closes early", CannedReply::failing(Fault::closeEarly), false},
        {"wrong length", CannedReply::failing(Fault::wrongContentLength), false},
    };
    for (const Case& c : cases) {
        HttpServer server({c.reply});
        const Endpoints endpoints = endpointsFor(server.origin());
        RecordingMessageBoxes boxes;
        checkForUpdate(endpoints, boxes);
        EXPECT_EQ(server.requestCount(), 1u) << c.name;
        const auto shown = boxes.shown();
        ASSERT_EQ(shown.size(), c.shows ? 1u : 0u) << c.name;
        if (c.shows) {
            EXPECT_EQ(showBytes(shown[0].first), showBytes(expectedCaption)) << c.name;
            EXPECT_EQ(showBytes(shown[0].second), showBytes(expectedBoxText(endpoints))) << c.name;
        }
    }
}

TEST_F(UpdateCheckTest, UnreachableEndpointShowsNothing) {
    RefusingPort refusing;
    RecordingMessageBoxes boxes;
    checkForUpdate(endpointsFor("http://127.0.0.1:" + std::to_string(refusing.port())), boxes);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(UpdateCheckTest, AsksTheServerPastAnyCache) {
    HttpServer server({CannedReply::ok("1.10")});
    RecordingMessageBoxes boxes;
    checkForUpdate(endpointsFor(server.origin()), boxes);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw(), "GET " + std::string(Endpoints{}.versionEndpoint.path) +
                                     " HTTP/1.1\r\n"
                                     "Host: " +
                                     server.hostHeader() + "\r\nUser-Agent: " + userAgent() +
                                     "\r\n"
                                     "Accept: */*\r\n"
                                     "Cache-Control: no-cache\r\n"
                                     "Pragma: no-cache\r\n"
                                     "\r\n");
}

TEST_F(UpdateCheckTest, ComparesWithTheVersionItHolds) {
    HttpServer server;
    server.setFallback(CannedReply::ok("1.10"));
    RecordingMessageBoxes boxes;
    appVersion = "1.09";
    checkForUpdate(endpointsFor(server.origin()), boxes);
    EXPECT_EQ(boxes.shown().size(), 1u);
    releaseAppVersion();  // an empty version reads as 0
    checkForUpdate(endpointsFor(server.origin()), boxes);
    EXPECT_EQ(boxes.shown().size(), 2u);
}

TEST_F(UpdateCheckTest, StartSetsTheVersionAndChecksOnAWorker) {
    // The worker is never waited for; it shares the ownership of its boxes.
    const auto boxes = std::make_shared<RecordingMessageBoxes>();
    HttpServer server({CannedReply::ok("1.11")});
    releaseAppVersion();
    startUpdateCheck(endpointsFor(server.origin()), boxes);
    EXPECT_EQ(appVersion, tessalyVersion);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (boxes->shown().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto shown = boxes->shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].first, expectedCaption);
    EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
}  // namespace tessaly
