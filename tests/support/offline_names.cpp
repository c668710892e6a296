#include "support/offline_names.h"

#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <cctype>
#include <string_view>

namespace tessaly::testing {
namespace {

std::atomic<std::size_t> answered{0};

// "invalid" itself or any name under it, in any letter case, with or without the final dot.
bool underInvalid(const char* name) {
    if (name == nullptr) {
        return false;
    }
    std::string_view n(name);
    if (!n.empty() && n.back() == '.') {
        n.remove_suffix(1);
    }
    constexpr std::string_view label = "invalid";
    if (n.size() < label.size() ||
        (n.size() > label.size() && n[n.size() - label.size() - 1] != '.')) {
        return false;
    }
    const std::string_view tail = n.substr(n.size() - label.size());
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(tail[i])) != label[i]) {
            return false;
        }
    }
    return true;
}

using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

}  // namespace

void keepInvalidNamesLocal() {}

std::size_t invalidNamesAnswered() {
    return answered.load();
}

}  // namespace tessaly::testing

// Takes the place of the C library's getaddrinfo in the program that links this file (the
// program's own definition comes first in the dynamic linker's search, also for libcurl).
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    if (tessaly::testing::underInvalid(node)) {
        ++tessaly::testing::answered;
        *result = nullptr;
        return EAI_NONAME;
    }
    static const auto system =
        reinterpret_cast<tessaly::testing::GetAddrInfo>(dlsym(RTLD_NEXT, "getaddrinfo"));
    return system != nullptr ? system(node, service, hints, result) : EAI_FAIL;
}
