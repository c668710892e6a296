// utf8ToLocalText on arbitrary bytes: the result is well-formed GBK without a zero byte,
// and converting it to UTF-8 and back gives it again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/codepage.h"
#include "text/text.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes body(reinterpret_cast<const char*>(data), size);
    const Text text = utf8ToLocalText(body);
    if (text.find('\0') != Text::npos || text.size() > size) {
        std::abort();
    }
    // Every byte came out of the GBK converter or stands for a character it lacks ("?"),
    // so reading the text back as GBK meets nothing malformed.
    const std::string utf8 = gbkToUtf8(text);
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos) {
        std::abort();
    }
    if (utf8ToLocalText(utf8) != text || utf8ToGbk(utf8) != text) {
        std::abort();
    }
    return 0;
}
