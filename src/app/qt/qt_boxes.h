// The Qt side of the window's ports: the output box 编辑框2, the domain box 编辑框1 and the
// two kinds of message box.
#pragma once

#include <QString>

#include <memory>

#include "app/qt/ui_channel.h"
#include "lookup/ports.h"

class QLineEdit;
class QPlainTextEdit;

namespace tessaly {

// The output box. The GBK bytes last set or appended are the model and the widget is its
// view, so a read gives back exactly those bytes, also where they are not valid GBK (the
// view shows U+FFFD there). Once the user has edited the box, a read gives the edited text
// in GBK with CR LF line ends, and the next write starts from that text. Every operation
// runs on the widget's thread while a calling worker waits; once the window has closed the
// channel, writes do nothing and reads give the empty text.
class QtOutputBox final : public OutputBox {
public:
    // view must stay valid for as long as channel is open.
    QtOutputBox(QPlainTextEdit* view, std::shared_ptr<UiChannel> channel);
    ~QtOutputBox() override;

    void setText(std::string_view text) override;
    Text readText() override;
    void appendText(std::string_view text) override;
    void caretToStart() override;

private:
    // The rest runs on the user-interface thread only.
    Text currentBytes() const;
    void showWhole();

    std::shared_ptr<UiChannel> channel_;
    QPlainTextEdit* view_;
    Text bytes_;     // the model
    QString shown_;  // displayTextOf(bytes_), what the view was given
    bool edited_ = false;
    bool applying_ = false;  // the change under way is the tool's, not the user's
    QMetaObject::Connection editWatch_;
};

// The domain box; the user types Unicode, the chain reads GBK (the empty text once the
// window has closed the channel).
class QtDomainBox final : public DomainBox {
public:
    QtDomainBox(QLineEdit* view, std::shared_ptr<UiChannel> channel)
        : channel_(std::move(channel)), view_(view) {}
    Text readText() override;

private:
    std::shared_ptr<UiChannel> channel_;
    QLineEdit* view_;
};

// A modal box without owner, OK only, no icon; returns when it has been closed. Its nested
// event loop keeps serving the workers' calls. Used on the user-interface thread.
class ModalMessageBoxes final : public MessageBoxes {
public:
    void showMessage(std::string_view caption, std::string_view text) override;
};

// A box without owner, OK only, no icon, that does not block the window: shown on the
// user-interface thread while the caller (the update worker) returns at once. Nothing is
// shown once the window has closed the channel.
class NonModalMessageBoxes final : public MessageBoxes {
public:
    explicit NonModalMessageBoxes(std::shared_ptr<UiChannel> channel)
        : channel_(std::move(channel)) {}
    void showMessage(std::string_view caption, std::string_view text) override;

private:
    std::shared_ptr<UiChannel> channel_;
};

}  // namespace tessaly
