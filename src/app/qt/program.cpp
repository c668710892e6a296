#include "app/qt/program.h"

#include <QApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/qt/qt_log.h"
#include "update/update_check.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tessaly {
namespace {

void exitRoutine() {
    static std::atomic_flag ran = ATOMIC_FLAG_INIT;
    if (!ran.test_and_set()) {
        releaseAppVersion();
    }
}

#if defined(__SANITIZE_ADDRESS__)
// quick_exit skips the leak check that LeakSanitizer makes at exit, so sanitizer builds make
// it here. Workers still running hold what they use on their stacks, which the check counts
// as reachable, so only memory that nothing points to any more is reported.
void checkLeaksAtQuickExit() {
    __lsan_do_leak_check();
}
#endif

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// fontconfig links the parts of its font patterns by offsets, not pointers, so the check
// cannot follow them from a pattern that Qt's font database still holds and takes the parts
// for lost. At an ordinary exit the application object has released them before the check;
// at quick_exit they are still in use. Nothing else is suppressed.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

int runProgram(int& argc, char** argv, WindowSeams seams,
               const std::function<void(MainWindow&)>& onShown, ProgramEnd end) {
    installQtLogSink();
    std::atexit(exitRoutine);
#if defined(__SANITIZE_ADDRESS__)
    std::at_quick_exit(checkLeaksAtQuickExit);  // registered first, so it runs last
#endif
    std::at_quick_exit(exitRoutine);

    auto application = std::make_unique<QApplication>(argc, argv);
    // Lets docks and task bars match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.orvane.Tessaly"));
    // Closing the main window ends the program, even while an update box is still open.
    QApplication::setQuitOnLastWindowClosed(false);
    auto window = std::make_unique<MainWindow>(std::move(seams));
    QObject::connect(window.get(), &MainWindow::closed, application.get(), &QApplication::quit);
    window->show();
    if (onShown) {
        onShown(*window);
    }
    QApplication::exec();

    if (end == ProgramEnd::quickExit) {
        // Workers may still be running, blocked in a name lookup, a connect or a call to the
        // window. They share the ownership of all they use, so the program could as well
        // destroy the window and return; quick_exit spares the user that wait and ends the
        // process at once, running only the exit routine.
        std::fflush(nullptr);
        std::quick_exit(0);
    }
    // The window closes its channel: a worker's call to it returns from now on, unserved.
    window.reset();
    application.reset();
    return 0;
}

}  // namespace tessaly
