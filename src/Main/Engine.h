// The flashing engine behind "Прошити": version gate, erase / write / commit with bounded
// retries and self-tuning pauses, failure and completion.  ButtonWriteClick, AbortCommand and
// ResetCommand are declared in Flows.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "ProgramState.h"

// Why a geometry cannot be written from an image of `imageChars` hex characters, or nothing
// when it can.  The written span EraseCount x BlocksPerErase x BlockSize must fit the six-digit
// erase address (2^24 bytes) and lie inside the image; a span of 0 needs no image at all.
std::optional<std::string> WriteSpanProblem(const TFlashGeometry& geometry, std::size_t imageChars);
