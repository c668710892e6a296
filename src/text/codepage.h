// Code-page conversion between the tool's GBK texts and UTF-8, on glibc's iconv.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace tessaly {

// GBK bytes to UTF-8. A byte sequence that is not valid GBK becomes U+FFFD, one per bad
// byte, so nothing is dropped silently.
std::string gbkToUtf8(std::string_view gbk);

// UTF-8 to GBK. Characters that GBK lacks become "?", and malformed UTF-8 is replaced
// rather than failing.
Text utf8ToGbk(std::string_view utf8);

// A web response in UTF-8 turned into the tool's text: a base character followed by
// combining marks becomes the precomposed character where one exists, every other
// character goes to GBK as it is (characters GBK lacks as "?"), and the text ends at the
// first zero byte.
Text utf8ToLocalText(const Bytes& body);

}  // namespace tessaly
