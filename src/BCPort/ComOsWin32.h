// The Windows layer's device handle, for tests that ask the system what the layer applied
// (GetCommState, GetCommTimeouts).  Windows only; the core never includes this header.
#pragma once

class TComOs;

// The open device's HANDLE of a layer made by CreatePlatformComOs, INVALID_HANDLE_VALUE
// while it is closed, nullptr for any other layer.
void* ComOsWin32Handle(TComOs& os);
