// tarvex6-flash as a function of its arguments, so that main stays a line and the whole
// command can be driven from a test or a benchmark.
#pragma once

#include <string>

#include "Options.h"
#include "ProgramState.h"
#include <vector>

// Runs the command with the arguments after the program name; returns the exit code.
int RunFlashCommand(const std::vector<std::string>& args);

// The image every port writes, prepared once by the same steps as the window's start-up or
// "Відкрити".  An empty text on success; otherwise why the firmware is refused.
std::string PrepareImage(const TCliOptions& options, TProgramState& prepared);
