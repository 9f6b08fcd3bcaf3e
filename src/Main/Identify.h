// Identification of the instrument's bootloader and the port routines shared by the flows.
//
// ReopenPort, ResetDevice, IdentifyDevice and ButtonConectClick are declared in Flows.h; this
// header adds what the write flow shares with them.
#pragma once

#include <stdexcept>
#include <string>

#include "Flows.h"

// Raised by ReopenPort when the baud-rate list has no valid choice: the component knows only
// the 15 rates of the list, so the port is left closed rather than opened at a guessed rate.
class EPortChoice : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sends `text` whole.  A write that ends early raises message 3, so that a frame cut short
// never counts as sent.
void SendWhole(TBComPort& port, const std::string& text);

// The steps that follow the outcomes "no answer" and "unsupported bootloader" for `caller`.
void HandleIdentifyFailure(TFlowContext& ctx, TIdentifyCaller caller, TIdentifyOutcome outcome);
