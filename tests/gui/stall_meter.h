// The longest time the user-interface thread went without serving its event loop, measured
// with a heartbeat timer: every beat notes how long it has been since the one before, so a
// handler or a call from a worker that holds the thread shows up as one long gap. The
// figures are printed, never asserted: speed is the benchmarks' business.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace tessaly::testing {

class StallMeter {
public:
    static constexpr std::chrono::milliseconds beat{5};

    StallMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            if (now - last_ > longestGap_) {
                longestGap_ = now - last_;
            }
            last_ = now;
            ++beats_;
        });
        restart();
        timer_.start(beat);
    }

    void restart() {
        last_ = Clock::now();
        longestGap_ = Clock::duration::zero();
        beats_ = 0;
    }

    // The longest gap between two beats, less the beat itself: how long the thread was held.
    double longestStallMs() const {
        const double gap = std::chrono::duration<double, std::milli>(longestGap_).count();
        const double held = gap - std::chrono::duration<double, std::milli>(beat).count();
        return held > 0 ? held : 0;
    }
    long beats() const { return beats_; }

    // One line for the record: "stall <what>: <ms> ms over <beats> beats".
    void report(const char* what) const {
        std::printf("stall %-44s %8.1f ms  (%ld beats)\n", what, longestStallMs(), beats_);
        std::fflush(stdout);
    }

private:
    using Clock = std::chrono::steady_clock;
    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longestGap_{};
    long beats_ = 0;
};

}  // namespace tessaly::testing
