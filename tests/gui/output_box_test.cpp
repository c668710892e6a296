// The output box protocol on the Qt widgets: the GBK bytes as the model, the widget as
// their view, the user's edits, the caret, and calls from workers.
#include <QtTest>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <atomic>
#include <functional>
#include <thread>

#include "app/qt/qt_boxes.h"
#include "text/text.h"

using namespace tessaly;

Q_DECLARE_METATYPE(std::string)

namespace {

// Runs work on a thread of its own while this thread's event loop serves its calls.
bool onWorker(const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    QDeadlineTimer deadline(10'000);
    while (!done && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    const bool finished = done;
    worker.join();
    return finished;
}

}  // namespace

class OutputBoxTest : public QObject {
    Q_OBJECT

private slots:
    void readsBackTheBytesItWasGiven_data();
    void readsBackTheBytesItWasGiven();
    void userEditsAreReadAsGbkWithCrLf();
    void editTakenBackKeepsTheBytes();
    void appendPutsTheCaretAtTheEndAndCaretToStartShowsTheTop();
    void workersCallFromTheirOwnThreads();
    void domainBoxReadsGbk();
};

void OutputBoxTest::readsBackTheBytesItWasGiven_data() {
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<QString>("view");

    const QString replacement(QChar(0xFFFD));
    QTest::newRow("empty") << std::string() << QString();
    QTest::newRow("ASCII") << std::string("Domain Name: EXAMPLE.COM") << "Domain Name: EXAMPLE.COM";
    QTest::newRow("GBK") << std::string("\xCE\xB4\xD6\xAA") << QString::fromUtf8("未知");
    QTest::newRow("unknown and a stray byte")
        << std::string("\xCE\xB4\xD6\xAA\xB4") << QString::fromUtf8("未知") + replacement;
    QTest::newRow("0xFF, never part of a character") << std::string(
                                                            "a\xFF"
                                                            "b")
                                                     << "a" + replacement + "b";
    QTest::newRow("lead byte at the end") << std::string("ab\xB0") << "ab" + replacement;
    QTest::newRow("lead byte and a byte that cannot follow it")
        << std::string("\xB0 x") << replacement + " x";
    QTest::newRow("CR LF") << std::string("a\r\nb") << "a\nb";
    QTest::newRow("CR CR LF") << std::string("a\r\r\nb\r\r\n") << "a\nb\n";
    QTest::newRow("lone LF and lone CR") << std::string("a\nb\rc") << "a\nb\nc";
    QTest::newRow("two CRs") << std::string("a\r\rb") << "a\n\nb";
    QTest::newRow("tab") << std::string("a\tb") << "a\tb";
}

void OutputBoxTest::readsBackTheBytesItWasGiven() {
    QFETCH(std::string, bytes);
    QFETCH(QString, view);

    QPlainTextEdit widget;
    QtOutputBox box(&widget, std::make_shared<UiChannel>());
    box.setText(bytes);
    QCOMPARE(box.readText(), bytes);
    QCOMPARE(widget.toPlainText(), view);
    QCOMPARE(sameText(box.readText(), unknownText), bytes == unknownText);

    // Appended a byte at a time, across characters and line ends: the same bytes, the same
    // view.
    box.setText("");
    for (char byte : bytes) {
        box.appendText(std::string_view(&byte, 1));
    }
    QCOMPARE(box.readText(), bytes);
    QCOMPARE(widget.toPlainText(), view);
}

void OutputBoxTest::userEditsAreReadAsGbkWithCrLf() {
    QPlainTextEdit widget;
    QtOutputBox box(&widget, std::make_shared<UiChannel>());
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    box.setText("a\r\r\nb\xFF");
    widget.moveCursor(QTextCursor::End);
    QTest::keyClicks(&widget, QStringLiteral("c"));
    QTest::keyClick(&widget, Qt::Key_Return);
    // Typed text beyond Latin-1, as an input method delivers it.
    QTest::sendKeyEvent(QTest::Click, &widget, Qt::Key_unknown, QString::fromUtf8("中"),
                        Qt::NoModifier);
    // The replacement character has no GBK form and reads as "?".
    QCOMPARE(box.readText(), Text("a\r\nb?c\r\n\xD6\xD0"));

    // The next write starts from the edited text.
    box.appendText("\xCE\xB4");
    QCOMPARE(box.readText(), Text("a\r\nb?c\r\n\xD6\xD0\xCE\xB4"));
    QCOMPARE(widget.toPlainText(), QString::fromUtf8("a\nb?c\n中未"));

    box.setText("x\xFF");
    QCOMPARE(box.readText(), Text("x\xFF"));
}

void OutputBoxTest::editTakenBackKeepsTheBytes() {
    QPlainTextEdit widget;
    QtOutputBox box(&widget, std::make_shared<UiChannel>());
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    box.setText("\xCE\xB4\xD6\xAA\xB4");
    widget.moveCursor(QTextCursor::End);
    QTest::keyClicks(&widget, QStringLiteral("z"));
    QTest::keyClick(&widget, Qt::Key_Backspace);
    QCOMPARE(box.readText(), Text("\xCE\xB4\xD6\xAA\xB4"));
}

void OutputBoxTest::appendPutsTheCaretAtTheEndAndCaretToStartShowsTheTop() {
    QPlainTextEdit widget;
    widget.resize(300, 120);
    QtOutputBox box(&widget, std::make_shared<UiChannel>());
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));

    box.setText("start\r\n");
    for (int i = 0; i < 100; ++i) {
        box.appendText("line\r\n");
    }
    QCOMPARE(widget.textCursor().position(), widget.document()->characterCount() - 1);
    QVERIFY(widget.verticalScrollBar()->value() > 0);
    QVERIFY(widget.viewport()->rect().contains(widget.cursorRect()));

    box.caretToStart();
    QCOMPARE(widget.textCursor().position(), 0);
    QVERIFY(!widget.textCursor().hasSelection());
    QCOMPARE(widget.verticalScrollBar()->value(), 0);
}

void OutputBoxTest::workersCallFromTheirOwnThreads() {
    QPlainTextEdit widget;
    QtOutputBox box(&widget, std::make_shared<UiChannel>());

    Text read;
    QVERIFY(onWorker([&] {
        box.setText(busyText);
        box.appendText("\r\n\xFF");
        read = box.readText();
        box.caretToStart();
    }));
    QCOMPARE(read, Text(busyText) + "\r\n\xFF");
    QCOMPARE(widget.toPlainText(), QString::fromUtf8("查询中......\n") + QChar(0xFFFD));
    QCOMPARE(widget.textCursor().position(), 0);

    // Several workers at once: each operation whole, the last write wins.
    std::vector<std::thread> workers;
    std::atomic<int> finished{0};
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&, i] {
            for (int n = 0; n < 20; ++n) {
                box.setText("worker " + std::to_string(i) + "\r\n");
                box.appendText("end");
            }
            ++finished;
        });
    }
    QTRY_COMPARE(finished.load(), 8);
    for (std::thread& worker : workers) {
        worker.join();
    }
    const Text last = box.readText();
    QVERIFY(last.rfind("worker ", 0) == 0);
    QCOMPARE(widget.toPlainText(), QString::fromLatin1(last.c_str()).replace("\r\n", "\n"));
}

void OutputBoxTest::domainBoxReadsGbk() {
    QLineEdit line;
    QtDomainBox box(&line, std::make_shared<UiChannel>());
    line.setText(QString::fromUtf8("www.例子.中国"));
    QCOMPARE(box.readText(), Text("www.\xC0\xFD\xD7\xD3.\xD6\xD0\xB9\xFA"));
    line.setText(QString::fromUtf8("a😀b"));  // no GBK form
    Text read;
    QVERIFY(onWorker([&] { read = box.readText(); }));
    QCOMPARE(read, Text("a?b"));
}

QTEST_MAIN(OutputBoxTest)
#include "output_box_test.moc"
