// The yardstick of Tessaly's start-up: a bare Qt 6 window with the same controls, places,
// fonts and Chinese labels as Tessaly's, and nothing behind them (no lookups, no update
// check, no icon). Built for the start-up benchmark only, twice: bare_window links Qt
// Widgets alone; bare_window_libraries (TESSALY_BARE_WITH_LIBRARIES) also links the
// libraries Tessaly links (libcurl, ldns, libidn2, utf8proc, Qt Network) without calling
// them, to tell their loading apart from Tessaly's own start-up work.
#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#ifdef TESSALY_BARE_WITH_LIBRARIES
#include <QTcpSocket>
#include <curl/curl.h>
#include <idn2.h>
#include <utf8proc.h>
// Last: its macros upset the standard headers that come after it.
#include <ldns/ldns.h>
#endif

int main(int argc, char** argv) {
#ifdef TESSALY_BARE_WITH_LIBRARIES
    if (argc > 1000) {  // never: the calls only keep the libraries linked
        (void)curl_version();
        (void)ldns_version();
        (void)idn2_check_version(nullptr);
        (void)utf8proc_version();
        delete new QTcpSocket;
    }
#endif
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint);
    window.setWindowTitle(QStringLiteral("Tessaly 1.00  By Orvane 2014-01-16"));
    window.setFixedSize(571, 406);

    auto* about = new QLabel(QString::fromUtf8("&关于作者"), &window);
    about->setGeometry(503, 3, 47, 16);
    auto* group = new QGroupBox(&window);
    group->setGeometry(11, 12, 540, 52);
    auto* domain = new QLineEdit(QStringLiteral("www.example.com"), group);
    domain->setGeometry(44, 14, 297, 30);
    QFont font;
    font.setFamilies({QString::fromUtf8("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Droid Sans Fallback")});
    font.setPixelSize(16);
    domain->setFont(font);
    auto* caption = new QLabel(QString::fromUtf8("域名"), group);
    caption->setGeometry(11, 17, 80, 24);
    caption->lower();
    (new QPushButton(QStringLiteral("whois"), group))->setGeometry(352, 13, 80, 32);
    (new QPushButton(QStringLiteral("digtrace"), group))->setGeometry(447, 12, 80, 32);
    auto* output = new QPlainTextEdit(&window);
    output->setGeometry(15, 80, 536, 280);
    output->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    about->raise();
    window.show();
    return QApplication::exec();
}
