// A log sink that keeps every line, for tests of the diagnostics. Installed for the life of
// one object; the previous sink (none in the tests) comes back after it.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/log.h"

namespace tessaly::testing {

class RecordingLog final : public LogSink {
public:
    RecordingLog() { setLogSink(this); }
    ~RecordingLog() override { setLogSink(nullptr); }
    RecordingLog(const RecordingLog&) = delete;
    RecordingLog& operator=(const RecordingLog&) = delete;

    bool wants(LogTopic) const override { return true; }
    void write(LogTopic topic, std::string_view line) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(topic, std::string(line));
    }
    // The lines of one topic, in order.
    std::vector<std::string> lines(LogTopic topic) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& [t, line] : lines_) {
            if (t == topic) {
                out.push_back(line);
            }
        }
        return out;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<LogTopic, std::string>> lines_;
};

}  // namespace tessaly::testing
