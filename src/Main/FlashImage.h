// The flash image: built from the firmware text in TextTerminal, read by the flashing engine.
//
// FlashImage holds the flash as hex text, two characters per byte, byte a at characters
// 2a and 2a + 1 (0-based); every byte the firmware does not set reads "FF".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ProgramState.h"
#include "WindowHost.h"

inline constexpr std::size_t FlashImageChars = 40'000'000;
inline constexpr std::int64_t FlashImageBytes = FlashImageChars / 2;

// A file larger than this is refused from its size, before it is read into TextTerminal, and
// no read goes past it.  A HEX text of this size places about 1.4 MB, over twenty times the
// instrument's 64 KiB of flash; and a text this large that is refused (by its size, its
// lines or its records) costs under 64 MB, its line index included.
inline constexpr std::uintmax_t LargestHexFile = 4u * 1024 * 1024;

inline constexpr std::string_view ReadyStatus = "Мікропрограма готова до запису";
inline constexpr std::string_view OpenFilter = "Файли: I8HEX, I16HEX, I32HEX|*.hex";
inline constexpr std::string_view OpenedMessage =
    "Мікропрограма відкрита,\r\n   запишіть її в прилад";
inline constexpr std::string_view StartLinearPrefix =
    "Знайдено: Start Linear Address Records (MDK-ARM only): ";
inline constexpr std::string_view OutOfImagePrefix =
    "Адреса поза межами образу у строці мікропрограми: ";
inline constexpr std::string_view ShortRecordPrefix = "Неповний запис у строці мікропрограми: ";
inline constexpr std::string_view TooLargePrefix =
    "Файл завеликий для мікропрограми (понад 4 МБ): ";

// A text that places no data before its end: an empty or comment-only file, an S-record
// file, a binary, records without data.  Followed by ": " and the file's name when known.
inline constexpr std::string_view NoDataPrefix =
    "Немає жодного запису даних Intel HEX у файлі мікропрограми";
std::string NoDataMessage(std::string_view fileName);

// "Мікропрограма : " + name + " - відкрита" + ". Запишіть в прилад".
std::string OpenedStatus(std::string_view fileName);

// Fills FlashImage with 1,000,000 runs of 40 'F' and places the data records of
// TextTerminal.  Before the fill, the text is scanned for anything that would leave a wrong
// image: data that could not be placed (an address at or beyond FlashImageBytes, a record
// shorter than its fields) and a Start Linear Address record are refused with a message
// naming the line, a text placing no data with NoDataMessage; a count, address or extended
// address that is not hexadecimal raises EConvertError.  In every case the previous image
// stays whole.  False after a refusal.
bool BuildFlashImage(TWindowHost& host, TProgramState& state);

// Upper-cases TextTerminal, checks it, builds the image and sets the common final state
// (window to the front, gauge 0, ButtonWrite enabled, information beep).  Sets
// State.PreparationRunning for its duration, also when it ends by an exception.
bool PrepareFlashImage(TWindowHost& host, TProgramState& state);

// "Відкрити": chooses a file, loads it into TextTerminal and prepares it.  Does nothing
// while a preparation or a write is running.
void ButtonOpenHexClick(TWindowHost& host, TProgramState& state);

// The whole file as bytes.  Only a regular file is read: a device, a FIFO, a socket or a
// folder is refused at once, without blocking and without reading, by std::runtime_error
// naming the file and what it is; so is a file that cannot be opened or read, with the
// system's reason.  False, with nothing read, for a file larger than LargestHexFile.
bool ReadHexFile(const std::string& path, std::string& content);
