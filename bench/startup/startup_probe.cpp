// Starts a program and measures its start-up as a user sees it: the time from exec to the
// moment its top-level window is mapped on the X display, and its resident memory then.
// Prints "MS RSS_KB" and ends the program.
//
//   startup_probe PROGRAM [ARGS...]      (DISPLAY must name a display without a window
//                                          manager, such as Xvfb's)
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

long residentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: startup_probe PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "startup_probe: no X display\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    bool mapped = false;
    const auto deadline = start + std::chrono::seconds(20);
    while (!mapped && std::chrono::steady_clock::now() < deadline) {
        while (!mapped && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            mapped = event.type == MapNotify && !event.xmap.override_redirect;
        }
        if (!mapped) {
            pollfd x{ConnectionNumber(display), POLLIN, 0};
            poll(&x, 1, 100);
        }
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    const long rss = residentKb(child);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    if (!mapped) {
        std::fprintf(stderr, "startup_probe: %s mapped no window\n", argv[1]);
        return 1;
    }
    std::printf("%.1f %ld\n", ms, rss);
    return 0;
}
