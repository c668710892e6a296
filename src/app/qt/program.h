// Start and end of the program.
#pragma once

#include <functional>

#include "app/qt/main_window.h"

namespace tessaly {

enum class ProgramEnd {
    // The program's way: once the window has closed, the process ends at once with exit
    // code 0, running only the exit routine; running workers are not waited for.
    quickExit,
    // The window and the application object are destroyed and runProgram returns 0, while
    // workers may still run; the tests end the program this way too, to show that nothing a
    // worker still uses goes with them.
    normalReturn,
};

// Registers the exit routine, creates and shows the main window and runs the event loop
// until the window has been closed, then ends as end says. onShown runs once the window is
// on the screen (tests drive it there).
int runProgram(int& argc, char** argv, WindowSeams seams,
               const std::function<void(MainWindow&)>& onShown = {},
               ProgramEnd end = ProgramEnd::quickExit);

}  // namespace tessaly
