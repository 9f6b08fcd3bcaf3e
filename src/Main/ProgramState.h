// The values that live from start to exit and are shared by the window's handlers.
#pragma once

#include <cstdint>
#include <string>

#include "ImageText.h"

struct TFlashGeometry {
    std::string LoaderVersion;
    std::int32_t BlocksPerErase = 0;
    std::int32_t BlockSize = 0;
    std::int32_t EraseCount = 0;
};

struct TProgramState {
    // The flash content as hex text, two characters per byte; 40,000,000 after a build.
    TImageText FlashImage;
    TFlashGeometry FlashGeometry;
    std::string DeviceReply;
    std::string ReplyCode;
    std::string CurrentFrame;
    std::string LastReply;
    bool AbortRequested = false;
    // File name (without folder) of the last file chosen with "Відкрити"; empty until then.
    std::string OpenedFileName;
    // Guards against starting a write or a preparation from inside a running one.
    bool PreparationRunning = false;
    bool WriteRunning = false;
};
