// The main window: caption, frame and size, the controls of its form, the About box and
// the boxes of the update check.
#include <QtTest>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <atomic>
#include <thread>

#include "app/qt/whois_client.h"
#include "gui_support.h"
#include "stall_meter.h"
#include "support/memory_ports.h"

using namespace tessaly;

namespace {

// A text as the widgets hold it, written in UTF-8 here.
QString shown(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString textOf(QObject* control) {
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        return line->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        return button->text();
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        return group->title();
    }
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        return edit->toPlainText();
    }
    return QStringLiteral("<no text>");
}

QMessageBox* openMessageBox(const QString& caption) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible() && box->windowTitle() == caption) {
            return box;
        }
    }
    return nullptr;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void captionFrameAndPlace();
    void controlsOfTheForm_data();
    void controlsOfTheForm();
    void domainAndOutputBoxes();
    void aboutOpensOnTheLeftButtonPress();
    void aboutOpensWhereverTheLabelIsPressed_data();
    void aboutOpensWhereverTheLabelIsPressed();
    void boxesAreBlackOnWhiteUnderADarkTheme();
    void aboutBoxIsModalWhileWorkersGoOn();
    void startUpActionRunsOnceAtCreation();
    void updateBoxDoesNotBlock();
};

void MainWindowTest::captionFrameAndPlace() {
    MainWindow window(testing::offlineSeams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.windowTitle(), QStringLiteral("Tessaly 1.00  By Orvane 2014-01-16"));
    QCOMPARE(window.frameGeometry().size(), QSize(571, 406));
    QCOMPARE(window.minimumSize(), window.maximumSize());  // the user cannot resize it
    const Qt::WindowFlags flags = window.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);

    const QRect screen = window.screen()->availableGeometry();
    const QPoint offset = window.frameGeometry().center() - screen.center();
    QVERIFY2(offset.manhattanLength() <= 2, "the window opens centred on the screen");

    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(!window.windowIcon().availableSizes().isEmpty());
}

void MainWindowTest::controlsOfTheForm_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");

    const QString window = QStringLiteral("window");
    const QString group = shown("分组框1");
    QTest::newRow("about label") << shown("关于作者标签") << "QLabel" << window
                                 << QRect(503, 3, 47, 16) << shown("&关于作者");
    QTest::newRow("group box") << group << "QGroupBox" << window << QRect(11, 12, 540, 52)
                               << QString();
    QTest::newRow("domain box") << shown("编辑框1") << "QLineEdit" << group
                                << QRect(44, 14, 297, 30) << "www.example.com";
    QTest::newRow("domain caption")
        << shown("标签1") << "QLabel" << group << QRect(11, 17, 80, 24) << shown("域名");
    QTest::newRow("whois") << shown("whois按钮") << "QPushButton" << group << QRect(352, 13, 80, 32)
                           << "whois";
    QTest::newRow("digtrace") << shown("Digtrace按钮") << "QPushButton" << group
                              << QRect(447, 12, 80, 32) << "digtrace";
    QTest::newRow("output box") << shown("编辑框2") << "QPlainTextEdit" << window
                                << QRect(15, 80, 536, 280) << QString();
}

void MainWindowTest::controlsOfTheForm() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, place);
    QFETCH(QString, text);

    MainWindow window(testing::offlineSeams());
    window.setObjectName(QStringLiteral("window"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* control = window.findChild<QWidget*>(name);
    QVERIFY2(control != nullptr, qPrintable(name));
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), place);
    QCOMPARE(textOf(control), text);
    QVERIFY(control->isVisible());
}

void MainWindowTest::domainAndOutputBoxes() {
    MainWindow window(testing::offlineSeams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The controls are members by their form names, as the object names say.
    QCOMPARE(window.findChild<QLineEdit*>(shown("编辑框1")), window.编辑框1);
    QCOMPARE(window.findChild<QPlainTextEdit*>(shown("编辑框2")), window.编辑框2);
    QCOMPARE(window.findChild<WhoisClient*>(shown("客户1")), window.客户1);
    QCOMPARE(window.客户1->parent(), window.分组框1);

    const QFont domainFont = window.编辑框1->font();
    QCOMPARE(domainFont.families().value(0), shown("宋体"));
    QCOMPARE(domainFont.pixelSize(), 16);
    QCOMPARE(domainFont.weight(), QFont::Normal);
    // Where 宋体 is missing, an installed font with Chinese characters stands in.
    const QString shownFamily = QFontInfo(domainFont).family();
    QVERIFY2(QFontDatabase::writingSystems(shownFamily).contains(QFontDatabase::SimplifiedChinese),
             qPrintable(shownFamily));
    QVERIFY(window.编辑框1->maxLength() > 1'000'000);

    QPlainTextEdit* output = window.编辑框2;
    QCOMPARE(output->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(output->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(output->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!output->isReadOnly());
    QVERIFY(!output->testAttribute(Qt::WA_SetFont));  // the default GUI font

    // The "&" of the About label is its mnemonic, not a character shown.
    QCOMPARE(window.关于作者标签->buddy(), window.编辑框1);
    QVERIFY(window.whois按钮->isEnabled());
    QVERIFY(window.Digtrace按钮->isEnabled());
}

void MainWindowTest::aboutOpensOnTheLeftButtonPress() {
    testing::RecordingMessageBoxes about;
    WindowSeams seams = testing::offlineSeams();
    seams.aboutBox = &about;
    MainWindow window(std::move(seams));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QTest::mousePress(window.关于作者标签, Qt::RightButton);
    QTest::mouseRelease(window.关于作者标签, Qt::RightButton);
    QTest::mousePress(window.标签1, Qt::LeftButton);
    QCOMPARE(about.shown().size(), std::size_t{0});

    QTest::mousePress(window.关于作者标签, Qt::LeftButton);  // the press, not the release
    QCOMPARE(about.shown().size(), std::size_t{1});
    QTest::mouseRelease(window.关于作者标签, Qt::LeftButton);
    QCOMPARE(about.shown().size(), std::size_t{1});

    const auto [caption, text] = about.shown().front();
    QCOMPARE(caption, Text("\xC1\xAA\xCF\xB5\xD7\xF7\xD5\xDF"));  // 联系作者
    const Text prefix = "By Orvane\r\nQQ\xA3\xBA";                // QQ and the full-width colon
    QVERIFY(text.size() > prefix.size());
    QCOMPARE(text.substr(0, prefix.size()), prefix);
    const Text number = text.substr(prefix.size());
    QVERIFY(number.find_first_not_of("0123456789") == Text::npos);
}

void MainWindowTest::aboutOpensWhereverTheLabelIsPressed_data() {
    QTest::addColumn<int>("row");
    QTest::newRow("top row") << 0;
    QTest::newRow("middle row") << 8;
    QTest::newRow("bottom row, over the group box's edge") << 15;
}

// The press goes to the window as the window system delivers it, so the widget on top at
// that point takes it: the label's lower rows lie over the group box.
void MainWindowTest::aboutOpensWhereverTheLabelIsPressed() {
    QFETCH(int, row);
    testing::RecordingMessageBoxes about;
    WindowSeams seams = testing::offlineSeams();
    seams.aboutBox = &about;
    MainWindow window(std::move(seams));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QRect label = window.关于作者标签->geometry();
    QCOMPARE(label.size(), QSize(47, 16));
    for (int column : {0, label.width() / 2, label.width() - 1}) {
        const QPoint point = label.topLeft() + QPoint(column, row);
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, point);
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, point);
    }
    QCOMPARE(about.shown().size(), std::size_t{3});
    QVERIFY(window.分组框1->isVisible());
    QCOMPARE(window.分组框1->geometry(), QRect(11, 12, 540, 52));
}

// Under a dark desktop palette both edit boxes keep black text on white.
void MainWindowTest::boxesAreBlackOnWhiteUnderADarkTheme() {
    const QPalette before = QApplication::palette();
    QPalette dark;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, QColor(0x20, 0x20, 0x20));
        dark.setColor(group, QPalette::WindowText, Qt::white);
        dark.setColor(group, QPalette::Base, QColor(0x10, 0x10, 0x10));
        dark.setColor(group, QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
    }
    QApplication::setPalette(dark);
    {
        MainWindow window(testing::offlineSeams());
        window.编辑框1->setText(QStringLiteral("WWWWWWWW"));
        window.outputBox().setText("WWWWWWWW\r\nWWWWWWWW");
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        for (QWidget* box :
             {static_cast<QWidget*>(window.编辑框1), static_cast<QWidget*>(window.编辑框2)}) {
            const QImage shot = box->grab().toImage();
            int white = 0, black = 0, other = 0;
            for (int y = 0; y < shot.height(); ++y) {
                for (int x = 0; x < shot.width(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.lightness() > 240) {
                        ++white;
                    } else if (c.lightness() < 40) {
                        ++black;
                    } else {
                        ++other;
                    }
                }
            }
            const QString name = box->objectName();
            // The ground is white, the text black; the dark theme's colours are nowhere.
            QVERIFY2(white > (white + black + other) / 2, qPrintable(name));
            QVERIFY2(black > 20, qPrintable(name));
            QCOMPARE(box->palette().color(QPalette::Active, QPalette::Base), QColor(Qt::white));
            QCOMPARE(box->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
        }
    }
    QApplication::setPalette(before);
}

void MainWindowTest::aboutBoxIsModalWhileWorkersGoOn() {
    MainWindow window(testing::offlineSeams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    struct Seen {
        bool found = false;
        QString caption, text;
        QWidget* owner = nullptr;
        Qt::WindowModality modality = Qt::NonModal;
        QMessageBox::Icon icon = QMessageBox::Information;
        QMessageBox::StandardButtons buttons;
        bool workerServed = false;
    } seen;

    // Runs inside the box's own event loop, which the press below enters.
    QTimer::singleShot(0, this, [&] {
        QMessageBox* box = testing::waitForModalMessageBox(10'000);
        if (box == nullptr) {
            return;
        }
        seen.found = true;
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.owner = box->parentWidget();
        seen.modality = box->windowModality();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();

        // A worker's write is served while the box is open.
        std::atomic<bool> done{false};
        std::thread worker([&] {
            window.outputBox().setText("written meanwhile");
            done = true;
        });
        QDeadlineTimer workerDeadline(10'000);
        while (!done && !workerDeadline.hasExpired()) {
            QTest::qWait(10);
        }
        seen.workerServed = done && window.编辑框2->toPlainText() == "written meanwhile";
        box->button(QMessageBox::Ok)->click();
        worker.join();  // done, or served by the main loop once the box has closed
    });
    QTest::mousePress(window.关于作者标签, Qt::LeftButton);

    QVERIFY(seen.found);
    QCOMPARE(seen.caption, shown("联系作者"));
    QVERIFY(seen.text.startsWith(shown("By Orvane\nQQ：")));
    QCOMPARE(seen.owner, nullptr);
    QCOMPARE(seen.modality, Qt::ApplicationModal);
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.workerServed);
}

void MainWindowTest::startUpActionRunsOnceAtCreation() {
    int calls = 0;
    int portSeen = 0;
    MessageBoxes* boxesSeen = nullptr;
    WindowSeams seams = testing::offlineSeams();
    seams.endpoints.whoisPort = 4343;
    seams.startUp = [&](const Endpoints& endpoints, std::shared_ptr<MessageBoxes> boxes) {
        ++calls;
        portSeen = endpoints.whoisPort;
        boxesSeen = boxes.get();
    };
    MainWindow window(std::move(seams));
    QCOMPARE(calls, 1);  // on creation, before the window is shown
    QCOMPARE(portSeen, 4343);
    QCOMPARE(boxesSeen, window.updateBoxes().get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(calls, 1);
}

void MainWindowTest::updateBoxDoesNotBlock() {
    MainWindow window(testing::offlineSeams());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const Text caption = "\xB0\xE6\xB1\xBE\xD3\xD0\xB8\xFC\xD0\xC2";  // 版本有更新
    std::thread worker([boxes = window.updateBoxes(), caption] {
        boxes->showMessage(caption, "line 1\r\nline 2");
    });
    worker.join();  // the worker returns at once; the box follows on the window's thread

    const QString shownCaption = shown("版本有更新");
    QTRY_VERIFY(openMessageBox(shownCaption) != nullptr);
    QMessageBox* box = openMessageBox(shownCaption);
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(box->text(), QStringLiteral("line 1\nline 2"));
    QCOMPARE(box->icon(), QMessageBox::NoIcon);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));

    // The window goes on serving workers while the box is open.
    window.outputBox().setText("still usable");
    QCOMPARE(window.编辑框2->toPlainText(), QStringLiteral("still usable"));
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(openMessageBox(shownCaption) == nullptr);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
