// The window's long operations and commands, written once over TWindowHost.
//
// Errors (EComPort, EConvertError, EGaugeRange, a file that cannot be read) are not caught
// here: they end the operation where they were raised and the front end shows them.
#pragma once

#include <string>

#include "BCPort.h"
#include "ProgramState.h"
#include "WindowHost.h"

struct TFlowContext {
    TWindowHost& Host;
    TProgramState& State;
    TBComPort& Port; // BComPort1
};

// Firmware image.
bool CheckHexLines(TFlowContext& ctx);
bool BuildFlashImage(TFlowContext& ctx);
bool PrepareFlashImage(TFlowContext& ctx);
void ButtonOpenHexClick(TFlowContext& ctx);

// Bootloader protocol.
void ReopenPort(TFlowContext& ctx);
void ResetDevice(TFlowContext& ctx);

enum class TIdentifyCaller { ButtonConect, ButtonWrite };
enum class TIdentifyOutcome { NoAnswer, UnsupportedLoader, Identified };
TIdentifyOutcome IdentifyDevice(TFlowContext& ctx, TIdentifyCaller caller);
void ButtonConectClick(TFlowContext& ctx);
void ButtonWriteClick(TFlowContext& ctx);

// Keyboard commands that reach the flows: Ctrl+Del and Ctrl+L.
void AbortCommand(TFlowContext& ctx);
void ResetCommand(TFlowContext& ctx);
