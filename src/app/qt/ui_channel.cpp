#include "app/qt/ui_channel.h"

namespace tessaly {

UiChannel::UiChannel() : uiThread_(std::this_thread::get_id()), anchor_(new QObject) {}

UiChannel::~UiChannel() {
    std::lock_guard lock(mutex_);
    if (anchor_ != nullptr) {
        // The last owner may be a worker: the anchor goes on its own thread.
        anchor_->deleteLater();
    }
}

void UiChannel::close() {
    QObject* anchor = nullptr;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        std::swap(anchor, anchor_);
    }
    // Deleting the anchor deletes the calls still queued for it, unrun.
    delete anchor;
}

}  // namespace tessaly
