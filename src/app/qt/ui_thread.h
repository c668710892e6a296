// Carrying out a control operation on the user-interface thread for any caller.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace tessaly {

// Runs operation on context's thread and returns when it is done: directly when the caller
// is already on that thread, otherwise as a blocking queued call that the thread serves
// from its event loop (between event handlers, and inside a modal box's nested loop).
template <class Operation>
void callOnUiThread(QObject* context, Operation&& operation) {
    if (QThread::currentThread() == context->thread()) {
        operation();
        return;
    }
    QMetaObject::invokeMethod(context, std::forward<Operation>(operation),
                              Qt::BlockingQueuedConnection);
}

}  // namespace tessaly
