// The four delegation trace services of the trace chain, asked in the order A, B, C, D.
// Each step only reads the domain and sets the whole output box once, at its end: the
// trace it cut out of the service's reply, or the failure text.
#pragma once

#include <optional>
#include <string_view>

#include "lookup/step.h"
#include "text/text.h"

namespace tessaly {

// A: a JSON dig trace over HTTPS (one POST).
void traceServiceA(Text& domain, LookupContext& context);
// B: a dig web interface answering with an HTML page (one GET).
void traceServiceB(Text& domain, LookupContext& context);
// C: a dig page answering with an HTML page (one POST).
void traceServiceC(Text& domain, LookupContext& context);
// D: an ASP.NET delegation-trace page, two postbacks per attempt, at most six attempts.
void traceServiceD(Text& domain, LookupContext& context);

// What each step makes of a reply body: the text it writes into the output box.
Text traceServiceAResult(const Bytes& body);
Text traceServiceBResult(const Bytes& body);
Text traceServiceCResult(const Bytes& body);

// Service D: the view state cut out of an attempt's first reply ("未知" when it has none).
Text traceServiceDViewState(const Bytes& firstReply);
// Service D: what an attempt makes of its second reply. Empty when the reply reports an
// error or lacks the trace and mayRetry is set (the attempt then writes nothing and the
// next one starts); otherwise the text to write.
std::optional<Text> traceServiceDResult(const Bytes& secondReply, bool mayRetry);

// The prefix service D writes before its trace; followed by "未知" it is D's final failure.
inline constexpr std::string_view traceServiceDPrefix = "Loading root server list (static data):";

// The retries service D makes after its first attempt, at most.
inline constexpr int traceServiceDMaxRetries = 5;

}  // namespace tessaly
