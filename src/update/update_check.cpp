#include "update/update_check.h"

#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/version.h"
#include "net/request.h"

namespace tessaly {

Text appVersion;

namespace {

constexpr std::string_view updateCaption =
    "\xB0\xE6\xB1\xBE\xD3\xD0\xB8\xFC\xD0\xC2";  // 版本有更新
// 版本有更新!请至
constexpr std::string_view updateTextStart =
    "\xB0\xE6\xB1\xBE\xD3\xD0\xB8\xFC\xD0\xC2!\xC7\xEB\xD6\xC1";
constexpr std::string_view updateTextLatest =
    "\xBB\xF1\xC8\xA1\xD7\xEE\xD0\xC2\xB0\xE6\xB1\xBE";                // 获取最新版本
constexpr std::string_view updateTextOr = "\xBB\xF2\xD5\xDF\xD6\xC1";  // 或者至
constexpr std::string_view updateTextNew =
    "\xBB\xF1\xC8\xA1\xD0\xC2\xB0\xE6\xB1\xBE";  // 获取新版本
constexpr std::string_view crLf = "\r\n";

// The version endpoint's body, always fetched from the server: no cached copy is asked for
// and none may be kept on the way. Empty when the request fails.
Bytes fetchVersionReply(const Endpoints& endpoints) {
    RequestObject request(endpoints.requestPolicy);
    request.open("GET", endpoints.versionEndpoint.url());
    request.setRequestHeader("Cache-Control", "no-cache");
    request.setRequestHeader("Pragma", "no-cache");
    request.send();
    return request.responseBody();
}

void checkAgainst(std::string_view localVersion, const Endpoints& endpoints, MessageBoxes& boxes) {
    const Text reply = bytesToText(fetchVersionReply(endpoints));
    const double remote = textToNumber(reply);
    const double local = textToNumber(localVersion);
    // Kept on purpose: a version is one decimal number, not a dotted list, so 1.9 is newer
    // than 1.10 and 1.10.1 reads as 1.10; the maker's endpoint answers in that sense.
    const bool newer = remote - local > 1e-7;
    logLine(LogTopic::update, "version endpoint: ", reply.size(), " bytes, read as ", remote,
            " against ", local, newer ? ": newer, the box is shown" : ": not newer, nothing shown");
    if (newer) {
        boxes.showMessage(
            updateCaption,
            joinTexts(updateTextStart, endpoints.downloadPage.url(), updateTextLatest, crLf,
                      updateTextOr, endpoints.secondDownloadSite, updateTextNew, crLf));
    }
}

}  // namespace

void releaseAppVersion() {
    appVersion.clear();
    appVersion.shrink_to_fit();
}

void checkForUpdate(const Endpoints& endpoints, MessageBoxes& boxes) {
    checkAgainst(appVersion, endpoints, boxes);
}

void startUpdateCheck(const Endpoints& endpoints, std::shared_ptr<MessageBoxes> boxes) {
    releaseAppVersion();
    appVersion = Text(tessalyVersion);
    // The worker is never waited for and may still run while the program ends and releases
    // appVersion and its static data, so it works on copies of the version and endpoints
    // and shares the ownership of the boxes.
    try {
        std::thread([version = appVersion, endpoints, boxes = std::move(boxes)] {
            try {
                checkAgainst(version, endpoints, *boxes);
            } catch (...) {
                // Out of memory on the way: the check shows nothing, like any failure.
            }
        }).detach();
    } catch (const std::system_error&) {
        // A worker that cannot be started shows nothing.
    }
}

}  // namespace tessaly
