#include "trace/pause.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace tessaly {

void pauseWithEvents(int milliseconds, const PendingEventsHandler& handlePendingEvents) {
    if (handlePendingEvents) {
        handlePendingEvents();
    }
    try {
        std::thread sleeper([milliseconds] {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds));
        });
        sleeper.join();
    } catch (const std::system_error&) {
        // The thread could not be started: no pause.
    }
    if (handlePendingEvents) {
        handlePendingEvents();
    }
}

}  // namespace tessaly
