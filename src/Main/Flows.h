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

// How "Прошити" ended, for a front end that reports more than the window shows.  The
// window ignores it: every outcome has already been shown through the host.
enum class TWriteOutcome {
    Ignored,           // a preparation or a write was running
    NoAnswer,          // identification: no answer
    UnsupportedLoader, // identification: unknown bootloader version
    GateRefused,       // the version gate refused (instrument restarted, port closed)
    NotWritable,       // the geometry does not fit the image; nothing erased
    Failed,            // too many failed tries; the instrument stays in its bootloader
    Aborted,           // AbortRequested seen; the instrument stays in its bootloader
    Completed,         // written, instrument restarted, port closed
};
// TVersionGate::Skip writes whatever version is installed: recovery of the same or an older build.
enum class TVersionGate { Check, Skip };
TWriteOutcome ButtonWriteClick(TFlowContext& ctx, TVersionGate gate = TVersionGate::Check);

// Keyboard commands that reach the flows: Ctrl+Del and Ctrl+L.
void AbortCommand(TFlowContext& ctx);
void ResetCommand(TFlowContext& ctx);
