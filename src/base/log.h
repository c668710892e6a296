// Diagnostics: what a lookup did and why it ended as it did, for a person who asks for it.
// Silent unless a sink is installed that wants the topic; the Qt program's sink writes to the
// logging categories tessaly.<topic>, which QT_LOGGING_RULES switches on. Logging never
// changes what a lookup shows.
#pragma once

#include <sstream>
#include <string_view>

namespace tessaly {

enum class LogTopic { chain, whois, http, trace, update };

// "chain", "whois", "http", "trace", "update".
std::string_view logTopicName(LogTopic topic);

class LogSink {
public:
    virtual ~LogSink() = default;
    // Asked before a line is made, so that a silent topic costs no formatting.
    virtual bool wants(LogTopic topic) const = 0;
    // One line, without a line end. Called from any thread.
    virtual void write(LogTopic topic, std::string_view line) = 0;
};

// Installs the sink that every later line goes to (nullptr: silent). The sink must stay valid
// for as long as any thread may log.
void setLogSink(LogSink* sink);

// The installed sink when it wants the topic, else nullptr.
LogSink* logSinkFor(LogTopic topic);

// Writes the parts end to end as one line, when the topic is wanted.
template <class... Parts>
void logLine(LogTopic topic, const Parts&... parts) {
    if (LogSink* sink = logSinkFor(topic)) {
        std::ostringstream line;
        (line << ... << parts);
        sink->write(topic, line.str());
    }
}

}  // namespace tessaly
