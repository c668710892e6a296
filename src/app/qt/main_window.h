// The main window: its controls as named in the window's form, its events, and the
// workers that its buttons start.
#pragma once

#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "app/chains.h"
#include "app/qt/qt_boxes.h"
#include "lookup/endpoints.h"
#include "net/tcp_connect.h"
#include "update/update_check.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tessaly {

class QtWhoisConnection;
class WhoisClient;

// What the window reaches outside itself. The program takes the defaults; tests point the
// endpoints and names at loopback servers and record the boxes.
struct WindowSeams {
    Endpoints endpoints = fixedEndpoints();
    HostResolver resolver;  // empty: the system's name lookup
    std::chrono::milliseconds connectTimeout = whoisConnectTimeout;
    MessageBoxes* aboutBox = nullptr;  // empty: a modal box of its own
    // The start-up action run when the window has been created, with the update boxes.
    std::function<void(const Endpoints&, std::shared_ptr<MessageBoxes>)> startUp = startUpdateCheck;
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
    // The boxes that the update worker shows its box through.
    const std::shared_ptr<MessageBoxes>& updateBoxes() const { return updateBoxes_; }
    // For threads that may outlive the window, as the workers do: they share its ownership.
    std::shared_ptr<OutputBox> sharedOutputBox() const { return outputBox_; }
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
    // What the workers use; each worker shares the ownership, so that none of it goes while
    // a worker may still use it. The channel is closed when the window goes.
    std::shared_ptr<UiChannel> channel_ = std::make_shared<UiChannel>();
    std::shared_ptr<const Endpoints> endpoints_;
    std::shared_ptr<RunMemory> memory_ = std::make_shared<RunMemory>();  // what lookups learnt
    std::shared_ptr<QtOutputBox> outputBox_;
    std::shared_ptr<QtDomainBox> domainBox_;
    std::shared_ptr<QtWhoisConnection> whoisConnection_;
    std::shared_ptr<MessageBoxes> updateBoxes_;
    ModalMessageBoxes modalBoxes_;
    std::shared_ptr<std::atomic<int>> runningWorkers_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace tessaly
