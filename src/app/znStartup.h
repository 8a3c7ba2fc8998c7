#pragma once

#include <QStringList>

// The whole program after main(): creates the process-wide objects in their
// order, interprets the first parameter, runs the unattended runner or the
// window, and releases everything in the reverse order. Returns the exit status.
int RunProgram(int argc, char** argv);

// Lets an unattended run through the window start where no display can be
// opened: Qt's offscreen platform is taken then, instead of ending the
// process. A platform set in QT_QPA_PLATFORM is kept.
void AllowRunWithoutDisplay();

// Whether the window can be shown: a platform is set in QT_QPA_PLATFORM
// or a display is named (DISPLAY, WAYLAND_DISPLAY). Always true where the
// system has no such variables.
bool HasDisplay();

// Text of --help.
QString HelpText();
