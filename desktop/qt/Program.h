#pragma once
// The desktop program `vornic`: parses its few options, makes sure there is a display to show the
// window on, starts the built-in simulator's line, offers the ports present, and runs the
// application with the Qt front end. Returns the process exit status.

#include <functional>

// Declared only: the program's own main() includes this header and needs none of the window's.
namespace vornic {
class Application;
}

namespace vornic::ui::qt {

class QtFrontEnd;

// Called once everything is wired, just before the main window opens (the figures program hooks
// in here to measure the real program).
using Prepare = std::function<void(QtFrontEnd& frontEnd, Application& application)>;

int runProgram(int argc, char** argv, const Prepare& prepare = {});

}  // namespace vornic::ui::qt
