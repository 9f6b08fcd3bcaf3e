// Starting a program of ours as a child process, for the tests and benchmarks that drive it.
#pragma once

#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

// Starts `binary` with `args`, its standard output on `out` and its standard error on `err`;
// the caller closes its own copies of those.  A program that cannot be started exits with 127.
inline pid_t SpawnChild(const std::string& binary, std::vector<std::string> args, int out,
                        int err) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}
