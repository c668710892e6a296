// The short pause between the two requests of a trace service D attempt.
#pragma once

#include <functional>

namespace tessaly {

// Handles the calling thread's pending events (its own queue only); called before and
// after the pause. Our Qt-free workers have no event queue, so by default there is none.
using PendingEventsHandler = std::function<void()>;

// Holds the calling thread for about the given number of milliseconds (a negative number
// gives no pause) on a short-lived second thread that it joins. When that thread cannot
// be started, it returns at once.
void pauseWithEvents(int milliseconds, const PendingEventsHandler& handlePendingEvents = {});

}  // namespace tessaly
