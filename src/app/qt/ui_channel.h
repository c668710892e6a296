// Carrying out operations on the user-interface thread for any thread, for as long as the
// window is there. Every port that a worker holds (the boxes, 客户1, the message boxes)
// reaches the window through one channel, which the worker shares the ownership of; once
// the window closes the channel, a call does nothing and a waiting call returns at once,
// so a worker that outlives the window never touches what is gone.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace tessaly {

class UiChannel {
public:
    // Made on the user-interface thread, whose event loop serves the calls.
    UiChannel();
    ~UiChannel();
    UiChannel(const UiChannel&) = delete;
    UiChannel& operator=(const UiChannel&) = delete;

    // Runs operation on the user-interface thread and returns when it is done: directly when
    // the caller is that thread, otherwise queued and served from its event loop (between
    // event handlers, and inside a modal box's nested loop) while the caller waits. False,
    // without running it, once the channel is closed, also for a call already waiting.
    template <class Operation>
    bool call(Operation&& operation);

    // Queues operation for the user-interface thread and returns at once; false once closed.
    template <class Operation>
    bool post(Operation&& operation);

    // User-interface thread only: no operation runs after this, and waiting calls return.
    void close();

    // Asks nothing of Qt, so that a worker may ask while the program ends.
    bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }

private:
    bool closed();

    const std::thread::id uiThread_;
    std::mutex mutex_;
    QObject* anchor_;  // on the user-interface thread; its queued events are the calls
    bool closed_ = false;
};

template <class Operation>
bool UiChannel::post(Operation&& operation) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return false;
    }
    return QMetaObject::invokeMethod(anchor_, std::forward<Operation>(operation),
                                     Qt::QueuedConnection);
}

inline bool UiChannel::closed() {
    std::lock_guard lock(mutex_);
    return closed_;
}

template <class Operation>
bool UiChannel::call(Operation&& operation) {
    if (closed()) {
        return false;
    }
    if (onUiThread()) {
        operation();  // only this thread closes the channel, so it is still open
        return true;
    }
    // The queued event owns the promise: when the channel closes before the event runs, the
    // event is deleted with the anchor, the promise with it, and the wait below ends.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    if (!post([done, &operation] {
            try {
                operation();
            } catch (...) {
                // An operation that cannot be carried out (out of memory) does nothing.
            }
            done->set_value();
        })) {
        return false;
    }
    done.reset();
    try {
        finished.get();
        return true;
    } catch (const std::future_error&) {
        return false;
    }
}

}  // namespace tessaly
