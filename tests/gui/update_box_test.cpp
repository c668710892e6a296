// The update check as the program runs it: the window's start-up action asks a loopback
// version endpoint, the box appears once, and while it is open the main window takes
// keyboard and mouse input through the window system and runs a whois lookup.
#include <QtTest>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui_support.h"
#include "support/http_server.h"

using namespace tessaly;
using testing::CannedReply;
using testing::HttpServer;

namespace {

const QString updateCaption = QString::fromUtf8("版本有更新");

QList<QMessageBox*> openUpdateBoxes() {
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible() && box->windowTitle() == updateCaption) {
            boxes.append(box);
        }
    }
    return boxes;
}

}  // namespace

class UpdateBoxTest : public QObject {
    Q_OBJECT

private slots:
    void windowTakesInputWhileTheUpdateBoxIsOpen();
};

void UpdateBoxTest::windowTakesInputWhileTheUpdateBoxIsOpen() {
    HttpServer versionServer({CannedReply::ok("1.11\r\n")});
    HttpServer serviceA({CannedReply::ok("<pre>Registrar: typed while open</pre>")});
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.versionEndpoint.origin = versionServer.origin();
    seams.endpoints.webWhoisServiceA.origin = serviceA.origin();
    seams.startUp = startUpdateCheck;

    MainWindow window(std::move(seams));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTRY_COMPARE_WITH_TIMEOUT(openUpdateBoxes().size(), 1, 30000);
    QMessageBox* box = openUpdateBoxes().first();
    QCOMPARE(box->text(), QString::fromUtf8("版本有更新!请至http://127.0.0.1:1/soft/获取最新版本\n"
                                            "或者至127.0.0.1获取新版本\n"));
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(versionServer.requestCount(), 1u);

    // The user goes back to the main window with the box still open.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(box->isVisible());
    QWindow* handle = window.windowHandle();

    // Keys and clicks arrive as the window system delivers them, where a modal box would
    // hold them back.
    window.编辑框1->setFocus();
    window.编辑框1->selectAll();
    for (char c : std::string("typed-while-open.com")) {
        QTest::keyClick(handle, c);
    }
    QCOMPARE(window.编辑框1->text(), QStringLiteral("typed-while-open.com"));

    window.outputBox().setText(unknownText);  // so the web services are asked
    const QPoint button = window.whois按钮->mapTo(&window, window.whois按钮->rect().center());
    QTest::mouseClick(handle, Qt::LeftButton, Qt::NoModifier, button);
    QTRY_COMPARE_WITH_TIMEOUT(window.编辑框2->toPlainText(),
                              QStringLiteral("Registrar: typed while open"), 30000);
    TESSALY_WAIT_FOR_WORKERS(window);
    QCOMPARE(serviceA.requestCount(), 1u);
    QCOMPARE(serviceA.requests()[0].body, std::string("domain=typed-while-open.com"));

    // Still the one box of the one check.
    QCOMPARE(openUpdateBoxes().size(), 1);
    QCOMPARE(versionServer.requestCount(), 1u);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(openUpdateBoxes().isEmpty());
}

QTEST_MAIN(UpdateBoxTest)
#include "update_box_test.moc"
