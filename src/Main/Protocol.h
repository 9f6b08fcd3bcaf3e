// The bootloader's text protocol: frames, reply judging, the identify reply's layout, and the
// fixed pauses and read sizes of every exchange.  Everything here is pure, so it can be tested
// without a port.
//
// A request frame is "g" + payload + SumHexBytes(payload) + ";", the payload being the
// two-digit command code followed by its arguments, all upper-case hex digits.  A reply is
// "g", the command code with bit 7 set, data, two characters that are never examined, ";".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ProgramState.h"

namespace Protocol {

// Fixed requests: their payload is the bare command code, so the sum equals the code.
inline constexpr std::string_view WakeUp = "ggggg"; // not a frame: no code, no sum, no ";"
inline constexpr std::string_view ResetFrame = "g0101;";
inline constexpr std::string_view IdentifyFrame = "g0202;";
inline constexpr std::string_view DescribeFrame = "g0303;";
inline constexpr std::string_view CommitFrame = "g0606;";

inline constexpr std::string_view IdentifyReplyCode = "82";
inline constexpr std::string_view SupportedLoaderVersion = "02";

// Pauses (ms), read sizes (characters) and repeats of the exchanges.
inline constexpr unsigned WakeUpPauseMs = 50;
inline constexpr int WakeUpRepeats = 5;
inline constexpr unsigned IdentifyPauseMs = 100;
inline constexpr std::int32_t IdentifyReadSize = 40;
inline constexpr int IdentifyTries = 5;
inline constexpr unsigned DescribePauseMs = 1000;
inline constexpr std::int32_t DescribeReadSize = 1000;
inline constexpr unsigned ResetPauseMs = 100;
inline constexpr std::int32_t ReplyReadSize = 20; // erase, write, commit and reset replies
inline constexpr int TriesPerFrame = 400;
// More failed tries than this over the whole write stop it.
inline constexpr std::int32_t FailedTriesLimit = 399;

// The erase address has six hex digits: a write must stay below this many bytes.
inline constexpr std::int64_t AddressSpace = std::int64_t{1} << 24;

// "g" + payload + sum + ";".  The payload must hold an even number of hex digits.
std::string BuildFrame(std::string_view payload);
// Erase request for the unit starting at `address` (0 .. 2^24 - 1), six upper-case digits.
std::string EraseFrame(std::int32_t address);
// Write request for block `blockNumber` (1 .. 255) of its unit with the block's image text.
// Builds into `frame`, reusing its storage, so a write costs no allocation per block.
void BuildWriteFrame(std::string& frame, std::int32_t blockNumber, std::string_view data);

// Characters 2-3 of a reply (fewer when the reply is shorter; empty for an empty reply).
std::string_view ReplyCodeOf(std::string_view reply);
// An identify try counts as answered when its last character is ";".
bool IsAnswered(std::string_view reply);
// An erase, write or commit try succeeds when the reply starts with `prefix` ("g84", "g85",
// "g86") and ends with ";".  A reply cut off before its ";" fails.
bool IsAccepted(std::string_view reply, std::string_view prefix);

// The identify reply's fields: version at 4-5, BlocksPerErase at 10-11, BlockSize at 12-13,
// EraseCount at 14-17.  A numeric field is read from the characters present at its positions;
// one that is empty or holds a non-hex character reads 0.  Either case of digits is accepted.
TFlashGeometry ParseGeometry(std::string_view reply);

// The describe reply after its first three characters and its last one were dropped
// (characters 4 .. L-1), turned into the description text: every character but the last two,
// LF becoming a line break (CR LF, never an empty line, none at the start), NUL dropped,
// everything else (CR too) kept.  `text` is the text the description is appended to.
// Works on the instrument's Windows-1251 bytes; the caller converts the result.
void AppendDescription(std::string& text, std::string_view trimmedReply);

// At least six upper-case hex digits.
std::string AddressText(std::int64_t address);
// "Автокалібровка: E.W.C".
std::string CalibrationText(std::int32_t erasePause, std::int32_t writePause,
                            std::int32_t commitPause);

// Number of characters (code points) of a UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);

} // namespace Protocol
