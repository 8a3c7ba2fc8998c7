#pragma once

#include <QStringList>

// The whole program after main(): creates the process-wide objects in their
// order, interprets the first parameter, runs the unattended runner or the
// window, and releases everything in the reverse order. Returns the exit status.
int RunProgram(int argc, char** argv);

// Text of --help.
QString HelpText();
