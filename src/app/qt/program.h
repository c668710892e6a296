// Start and end of the program.
#pragma once

#include <functional>

#include "app/qt/main_window.h"

namespace tessaly {

// Registers the exit routine, creates and shows the main window, runs the event loop until
// the window has been closed, then ends the process with exit code 0 without waiting for
// running workers. onShown runs once the window is on the screen (tests drive it there).
[[noreturn]] void runProgram(int& argc, char** argv, WindowSeams seams,
                             const std::function<void(MainWindow&)>& onShown = {});

}  // namespace tessaly
