// tarvex6-flash as a function of its arguments, so that main stays a line and the whole
// command can be driven from a test or a benchmark.
#pragma once

#include <string>
#include <vector>

// Runs the command with the arguments after the program name; returns the exit code.
int RunFlashCommand(const std::vector<std::string>& args);
