#include "base/log.h"

#include <atomic>

namespace tessaly {
namespace {

std::atomic<LogSink*> installedSink{nullptr};

}  // namespace

std::string_view logTopicName(LogTopic topic) {
    switch (topic) {
        case LogTopic::chain:
            return "chain";
        case LogTopic::whois:
            return "whois";
        case LogTopic::http:
            return "http";
        case LogTopic::trace:
            return "trace";
        case LogTopic::update:
            return "update";
    }
    return "?";
}

void setLogSink(LogSink* sink) {
    installedSink.store(sink, std::memory_order_release);
}

LogSink* logSinkFor(LogTopic topic) {
    LogSink* sink = installedSink.load(std::memory_order_acquire);
    return sink != nullptr && sink->wants(topic) ? sink : nullptr;
}

}  // namespace tessaly
