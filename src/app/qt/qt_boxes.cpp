#include "app/qt/qt_boxes.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "app/qt/qt_text.h"

namespace tessaly {

QtOutputBox::QtOutputBox(QPlainTextEdit* view, std::shared_ptr<UiChannel> channel)
    : channel_(std::move(channel)), view_(view) {
    editWatch_ =
        QObject::connect(view_->document(), &QTextDocument::contentsChanged, view_, [this] {
            if (!applying_) {
                edited_ = true;
            }
        });
}

QtOutputBox::~QtOutputBox() {
    QObject::disconnect(editWatch_);
}

Text QtOutputBox::currentBytes() const {
    if (!edited_) {
        return bytes_;
    }
    const QString now = view_->toPlainText();
    // An edit that was taken back leaves the bytes as they were.
    return now == shown_ ? bytes_ : gbkTextOf(now);
}

void QtOutputBox::showWhole() {
    applying_ = true;
    view_->setPlainText(shown_);
    applying_ = false;
    shown_ = view_->toPlainText();  // as the document holds it, for the edit test above
}

void QtOutputBox::setText(std::string_view text) {
    channel_->call([&] {
        bytes_.assign(text);
        edited_ = false;
        shown_ = displayTextOf(bytes_);
        showWhole();
    });
}

Text QtOutputBox::readText() {
    Text result;
    channel_->call([&] { result = currentBytes(); });
    return result;
}

void QtOutputBox::appendText(std::string_view text) {
    channel_->call([&] {
        const bool userChanged = edited_ && view_->toPlainText() != shown_;
        bytes_ = currentBytes();
        bytes_.append(text);
        edited_ = false;
        const QString before = shown_;
        shown_ = displayTextOf(bytes_);
        // Usually the view only grows and the tail is inserted at the end. Where the
        // appended bytes complete a character or a line end of the text before them, or
        // the user had changed the box, the whole text is shown afresh.
        const bool grows = !userChanged && shown_.startsWith(before);
        if (!grows) {
            showWhole();
        }
        QTextCursor cursor = view_->textCursor();
        cursor.movePosition(QTextCursor::End);
        if (grows) {
            applying_ = true;
            cursor.insertText(shown_.mid(before.size()));
            applying_ = false;
            shown_ = view_->toPlainText();
        }
        view_->setTextCursor(cursor);
        view_->ensureCursorVisible();
    });
}

void QtOutputBox::caretToStart() {
    channel_->call([&] {
        QTextCursor cursor = view_->textCursor();
        cursor.movePosition(QTextCursor::Start);
        view_->setTextCursor(cursor);
        view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->minimum());
        view_->ensureCursorVisible();
    });
}

Text QtDomainBox::readText() {
    Text result;
    channel_->call([&] { result = gbkTextOf(view_->text()); });
    return result;
}

namespace {

QMessageBox* ownerlessBox(std::string_view caption, std::string_view text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, displayTextOf(caption), displayTextOf(text),
                                QMessageBox::Ok, nullptr);
    box->setTextFormat(Qt::PlainText);
    return box;
}

}  // namespace

void ModalMessageBoxes::showMessage(std::string_view caption, std::string_view text) {
    QMessageBox* box = ownerlessBox(caption, text);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box;
}

void NonModalMessageBoxes::showMessage(std::string_view caption, std::string_view text) {
    channel_->post([caption = Text(caption), text = Text(text)] {
        QMessageBox* box = ownerlessBox(caption, text);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    });
}

}  // namespace tessaly
