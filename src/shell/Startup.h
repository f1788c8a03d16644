#pragma once

#include <functional>

// The program: start-up in order, the message loop until the main window closes, and the exit.
// `onIdle` runs once when the shown main window's event loop first idles (benchmarks use it).
int runProgram(int argc, char** argv, const std::function<void()>& onIdle = {});
