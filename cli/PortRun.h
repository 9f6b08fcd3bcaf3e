// One port's whole run in tarvex6-flash: its own serial component, program state and window
// stand-in, the window's flows over them, and what became of it.
#pragma once

#include <functional>
#include <string>

#include "ProgramState.h"
#include "Progress.h"
#include "TerminalHost.h"

struct TPortJob {
    std::string Port; // as given on the command line
    int BaudIndex = 12;
    bool IdentifyOnly = false;
    bool Force = false; // skip the version gate
    // The prepared image and the name of the file it came from; unused by an identification.
    const TProgramState* Prepared = nullptr;
    std::function<bool()> Interrupted;
    TTerminalHost::TProgressSink Progress;
};

// Never raises: every error of the run becomes the result's outcome and message.
TPortResult RunPort(const TPortJob& job);
