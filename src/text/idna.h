// Domain names between the tool's GBK text and the ASCII form the DNS and the registries
// use: every label outside ASCII as its A-label ("xn--..."), by libidn2's IDNA 2008 rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

// The name's ASCII form, labels in lower case, without a final dot; nullopt when it is no
// valid domain name: empty, an empty label, a label over 63 bytes or a name over 253, a
// character other than letters, digits, "-" and "_" (after the A-label conversion), or
// bytes that are not GBK.
std::optional<std::string> toALabels(std::string_view gbkName);

}  // namespace tessaly
