// The main window: its controls as named in the window's form, its events, and the
// workers that its buttons start.
#pragma once

#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "app/chains.h"
#include "app/endpoints.h"
#include "app/qt/qt_boxes.h"
#include "update/update_check.h"
#include "whois/tcp_connect.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tessaly {

class WhoisClient;

// What the window reaches outside itself. The program takes the defaults; tests point the
// endpoints and names at loopback servers and record the boxes.
struct WindowSeams {
    Endpoints endpoints = fixedEndpoints();
    HostResolver resolver;  // empty: the system's name lookup
    std::chrono::milliseconds connectTimeout = whoisConnectTimeout;
    MessageBoxes* aboutBox = nullptr;  // empty: a modal box of its own
    // The start-up action run when the window has been created.
    std::function<void(const Endpoints&, MessageBoxes&)> startUp = startUpdateCheck;
};

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize outerSize{571, 406};

    explicit MainWindow(WindowSeams seams = WindowSeams());
    ~MainWindow() override;

    OutputBox& outputBox() { return *outputBox_; }
    DomainBox& domainBox() { return *domainBox_; }
    WhoisConnection& whoisConnection();
    // Workers started by the buttons that have not ended yet. Nothing waits for them;
    // tests look so that they do not take the window down under a running worker.
    int runningWorkers() const { return runningWorkers_->load(); }

    // The controls, by the names of the window's form (also their object names).
    QLabel* 关于作者标签;
    QGroupBox* 分组框1;
    QLineEdit* 编辑框1;
    QLabel* 标签1;
    QPushButton* whois按钮;
    QPushButton* Digtrace按钮;
    WhoisClient* 客户1;
    QPlainTextEdit* 编辑框2;

signals:
    void closed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void startWorker(void (*chain)(DomainBox&, LookupContext&));
    void showAbout();
    void fitOuterSize();
    void centreOnScreen();

    WindowSeams seams_;
    std::unique_ptr<QtOutputBox> outputBox_;
    std::unique_ptr<QtDomainBox> domainBox_;
    ModalMessageBoxes modalBoxes_;
    std::shared_ptr<std::atomic<int>> runningWorkers_ = std::make_shared<std::atomic<int>>(0);
};

// The boxes of the update worker: not blocking the window, valid while the program runs.
MessageBoxes& updateMessageBoxes();

}  // namespace tessaly
