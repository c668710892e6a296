#include "app/qt/qt_log.h"

#include <QLoggingCategory>
#include <QString>

#include "base/log.h"

namespace tessaly {
namespace {

// Debug messages off unless the logging rules switch them on.
Q_LOGGING_CATEGORY(chainCategory, "tessaly.chain", QtInfoMsg)
Q_LOGGING_CATEGORY(whoisCategory, "tessaly.whois", QtInfoMsg)
Q_LOGGING_CATEGORY(httpCategory, "tessaly.http", QtInfoMsg)
Q_LOGGING_CATEGORY(traceCategory, "tessaly.trace", QtInfoMsg)
Q_LOGGING_CATEGORY(updateCategory, "tessaly.update", QtInfoMsg)

const QLoggingCategory& categoryOf(LogTopic topic) {
    switch (topic) {
        case LogTopic::chain:
            return chainCategory();
        case LogTopic::whois:
            return whoisCategory();
        case LogTopic::http:
            return httpCategory();
        case LogTopic::trace:
            return traceCategory();
        case LogTopic::update:
            break;
    }
    return updateCategory();
}

class QtLogSink final : public LogSink {
public:
    bool wants(LogTopic topic) const override { return categoryOf(topic).isDebugEnabled(); }
    void write(LogTopic topic, std::string_view line) override {
        qCDebug(categoryOf(topic)).noquote()
            << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
};

}  // namespace

void installQtLogSink() {
    // Never destroyed: a worker may log while the program ends.
    static QtLogSink* sink = new QtLogSink;
    setLogSink(sink);
}

}  // namespace tessaly
