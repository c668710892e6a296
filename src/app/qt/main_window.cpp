#include "app/qt/main_window.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <limits>
#include <system_error>
#include <thread>

#include "app/qt/qt_text.h"
#include "app/qt/whois_client.h"

// The window's icon lives in this static library's resources, which are linked in only
// when something names them.
static void initTessalyResources() {
    Q_INIT_RESOURCE(tessaly);
}

namespace tessaly {
namespace {

// "Tessaly 1.00  By Orvane 2014-01-16", with two spaces before "By".
constexpr std::string_view windowCaption = "Tessaly 1.00  By Orvane 2014-01-16";
constexpr std::string_view aboutLabelText = "&\xB9\xD8\xD3\xDA\xD7\xF7\xD5\xDF";  // &关于作者
constexpr std::string_view domainCaptionText = "\xD3\xF2\xC3\xFB";                // 域名
constexpr std::string_view aboutCaption = "\xC1\xAA\xCF\xB5\xD7\xF7\xD5\xDF";     // 联系作者
// "By Orvane" CR LF "QQ：" (full-width colon A3 BA) and the number.
constexpr std::string_view aboutText =
    "By Orvane\r\nQQ\xA3\xBA"
    "2014011600";
constexpr std::string_view exampleDomain = "www.example.com";

template <class Widget>
Widget* named(Widget* widget, const char* objectName, QRect place) {
    widget->setObjectName(QString::fromUtf8(objectName));
    widget->setGeometry(place);
    return widget;
}

// 宋体 at a character height of 16 pixels; where it is not installed, fontconfig's CJK
// fonts stand in for it.
QFont domainBoxFont() {
    QFont font;
    font.setFamilies({QString::fromUtf8("\xE5\xAE\x8B\xE4\xBD\x93"),  // 宋体
                      QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(16);
    font.setWeight(QFont::Normal);
    return font;
}

// Black text on white whatever the desktop's theme, in every state of the box.
void blackOnWhite(QWidget* box) {
    QPalette palette = box->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    box->setPalette(palette);
}

}  // namespace

MainWindow::MainWindow(WindowSeams seams)
    : QWidget(nullptr),
      seams_(std::move(seams)),
      endpoints_(std::make_shared<const Endpoints>(seams_.endpoints)),
      updateBoxes_(std::make_shared<NonModalMessageBoxes>(channel_)) {
    // Minimise and close, no maximise; the fixed size keeps the user from resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(displayTextOf(windowCaption));
    initTessalyResources();
    setWindowIcon(QIcon(QStringLiteral(":/tessaly/tessaly.png")));
    setFixedSize(outerSize);  // the frame is taken off once the window system knows it
    centreOnScreen();
    createControls();

    // The window's creation event: the start-up action.
    if (seams_.startUp) {
        seams_.startUp(*endpoints_, updateBoxes_);
    }
}

MainWindow::~MainWindow() {
    // Workers that still run keep their ports, whose calls to the window now do nothing.
    channel_->close();
}

WhoisConnection& MainWindow::whoisConnection() {
    return *whoisConnection_;
}

void MainWindow::createControls() {
    关于作者标签 = named(new QLabel(displayTextOf(aboutLabelText), this), "关于作者标签",
                         QRect(503, 3, 47, 16));
    分组框1 = named(new QGroupBox(this), "分组框1", QRect(11, 12, 540, 52));
    编辑框1 = named(new QLineEdit(displayTextOf(exampleDomain), 分组框1), "编辑框1",
                    QRect(44, 14, 297, 30));
    标签1 = named(new QLabel(displayTextOf(domainCaptionText), 分组框1), "标签1",
                  QRect(11, 17, 80, 24));
    whois按钮 = named(new QPushButton(QStringLiteral("whois"), 分组框1), "whois按钮",
                      QRect(352, 13, 80, 32));
    Digtrace按钮 = named(new QPushButton(QStringLiteral("digtrace"), 分组框1), "Digtrace按钮",
                         QRect(447, 12, 80, 32));
    编辑框2 = named(new QPlainTextEdit(this), "编辑框2", QRect(15, 80, 536, 280));

    // 标签1 reaches under the left end of the domain box; the box stays on top so that
    // clicks there reach it. The About label's lower rows lie over the group box's top
    // edge: the label stays on top so that a press anywhere on it opens the box.
    标签1->lower();
    关于作者标签->raise();
    编辑框1->setFont(domainBoxFont());
    blackOnWhite(编辑框1);
    blackOnWhite(编辑框2);
    编辑框1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    编辑框1->setMaxLength(std::numeric_limits<int>::max());
    // The "&" of the About label marks its mnemonic, which moves to the domain box.
    关于作者标签->setBuddy(编辑框1);
    关于作者标签->installEventFilter(this);

    编辑框2->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    编辑框2->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    编辑框2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    编辑框2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    outputBox_ = std::make_shared<QtOutputBox>(编辑框2, channel_);
    domainBox_ = std::make_shared<QtDomainBox>(编辑框1, channel_);
    客户1 = new WhoisClient(outputBox_, 分组框1);
    客户1->setObjectName(QStringLiteral("客户1"));
    whoisConnection_ = std::make_shared<QtWhoisConnection>(客户1, channel_, seams_.resolver,
                                                           seams_.connectTimeout);

    connect(whois按钮, &QPushButton::clicked, this, [this] { startWorker(runWhoisLookup); });
    connect(Digtrace按钮, &QPushButton::clicked, this, [this] { startWorker(runDigTrace); });
    编辑框1->setFocus();
}

void MainWindow::startWorker(void (*chain)(DomainBox&, LookupContext&)) {
    // One detached worker per click: never limited, never waited for. Nothing is shown
    // when it cannot be started.
    // The worker shares the ownership of everything it uses and captures nothing of the
    // window itself.
    ++*runningWorkers_;
    try {
        std::thread([chain, outputBox = outputBox_, domainBox = domainBox_,
                     connection = whoisConnection_, endpoints = endpoints_, memory = memory_,
                     running = runningWorkers_] {
            try {
                LookupContext context{*outputBox, *connection, *endpoints, memory.get()};
                chain(*domainBox, context);
            } catch (...) {
                // A step reports only through the output box; nothing escapes a worker.
            }
            --*running;
        }).detach();
    } catch (const std::system_error&) {
        --*runningWorkers_;
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The About box opens on the press of the left button, not on its release.
    if (watched == 关于作者标签 && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        showAbout();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showAbout() {
    MessageBoxes& boxes = seams_.aboutBox != nullptr ? *seams_.aboutBox : modalBoxes_;
    boxes.showMessage(aboutCaption, aboutText);
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The frame is known only once the window is on the screen, and a window manager may
    // add it later still; the client area is the outer size less the frame.
    if (event->type() == QEvent::Show || event->type() == QEvent::Move) {
        fitOuterSize();
    }
    return handled;
}

void MainWindow::fitOuterSize() {
    const QWindow* window = windowHandle();
    const QMargins frame = window != nullptr ? window->frameMargins() : QMargins();
    const QSize client(outerSize.width() - frame.left() - frame.right(),
                       outerSize.height() - frame.top() - frame.bottom());
    if (size() != client) {
        setFixedSize(client);
        centreOnScreen();  // the frame has just become known, before the user could move it
    }
}

void MainWindow::centreOnScreen() {
    const QWindow* window = windowHandle();
    const QScreen* screen = window != nullptr && window->screen() != nullptr
                                ? window->screen()
                                : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect outer(QPoint(), outerSize);
    outer.moveCenter(screen->availableGeometry().center());
    move(outer.topLeft());  // a window's position is that of its frame
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}

}  // namespace tessaly
