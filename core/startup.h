// Start-up and shutdown of the runtime.
#pragma once

// Runs the whole player: options, libraries, applet, script, shutdown.
// Returns the process exit status: 0 for a normal end or a user abort,
// 1 when a fatal error was reported.
int CoreMain(int argc, char** argv);
