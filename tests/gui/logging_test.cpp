// The program's diagnostics go to Qt's logging categories tessaly.*: silent until the logging
// rules switch them on, then each line under its topic's category.
#include <QtTest>

#include <QLoggingCategory>

#include <string>
#include <utility>
#include <vector>

#include "app/qt/qt_log.h"
#include "base/log.h"

using namespace tessaly;

namespace {

std::vector<std::pair<QString, QString>> captured;

void capture(QtMsgType, const QMessageLogContext& context, const QString& message) {
    captured.emplace_back(QString::fromLatin1(context.category), message);
}

}  // namespace

class LoggingTest : public QObject {
    Q_OBJECT

private slots:
    void silentByDefaultAndOnWithTheRules();
};

void LoggingTest::silentByDefaultAndOnWithTheRules() {
    qunsetenv("QT_LOGGING_RULES");
    installQtLogSink();
    const QtMessageHandler previous = qInstallMessageHandler(capture);
    logLine(LogTopic::trace, "traceServiceA: not shown");
    QVERIFY(logSinkFor(LogTopic::trace) == nullptr);
    QVERIFY(captured.empty());

    QLoggingCategory::setFilterRules(QStringLiteral("tessaly.*.debug=true"));
    for (LogTopic topic :
         {LogTopic::chain, LogTopic::whois, LogTopic::http, LogTopic::trace, LogTopic::update}) {
        QVERIFY(logSinkFor(topic) != nullptr);
    }
    logLine(LogTopic::trace, "traceServiceA: the request failed (", 7, "); writes \"未知\"");
    logLine(LogTopic::http, "GET http://127.0.0.1/: status ", 200);
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    QCOMPARE(captured.size(), std::size_t{2});
    QCOMPARE(captured[0].first, QStringLiteral("tessaly.trace"));
    QCOMPARE(captured[0].second,
             QStringLiteral("traceServiceA: the request failed (7); writes \"未知\""));
    QCOMPARE(captured[1].first, QStringLiteral("tessaly.http"));
}

QTEST_GUILESS_MAIN(LoggingTest)
#include "logging_test.moc"
