#pragma once
// The program launcher of the online folder: starts the program of a downloaded file.
#include <functional>
#include <string>

// Starts the program of a downloaded file; unset, the command line is started as a process of its
// own through the wide CreateProcess.
using TvrqLauncherFn = std::function<bool(const std::string& commandLine)>;
void SetLauncher(TvrqLauncherFn fn);
// Runs commandLine through the launcher set, or starts it as a process of its own; true when it started.
bool LaunchCommand(const std::string& commandLine);
