// Opening a TCP connection: IPv4 only, bounded in time, on the calling thread. The WHOIS
// client hands the open socket to its own thread afterwards.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "text/text.h"

namespace tessaly {

// Turns a host name into a dotted IPv4 address; the empty text when it does not resolve.
// The program resolves through the system (resolveIpv4); tests map names to loopback.
using HostResolver = std::function<Text(std::string_view host)>;

// A dotted IPv4 address is returned as it stands; any other name is looked up and its
// first IPv4 address returned, or the empty text when the lookup fails or takes longer
// than timeout. The empty host fails at once.
Text resolveIpv4(std::string_view host, std::chrono::milliseconds timeout,
                 const std::function<bool()>& abandoned = {});

// Resolves host (a dotted address directly, any other name through resolver, or through
// resolveIpv4 when resolver is empty) and connects to port over IPv4. Returns the
// connected, non-blocking socket, or -1 for an empty host, a name that does not resolve,
// a refused connection or a time-out. The time-out covers resolution and connect together.
// When it fails and failure is given, *failure says why, for the diagnostics.
//
// abandoned, when given, is asked while the lookup and the connect wait (every
// abandonCheckInterval at most, and before the connect starts): once it holds, the attempt
// gives up at once and fails like a time-out.
int openTcpConnection(std::string_view host, int port, std::chrono::milliseconds timeout,
                      const HostResolver& resolver = {}, std::string* failure = nullptr,
                      const std::function<bool()>& abandoned = {});

inline constexpr std::chrono::milliseconds abandonCheckInterval{20};

}  // namespace tessaly
