// What tarvex6-flash needs from the operating system beyond the serial component: Ctrl+C,
// the terminal, the clock's text and the identity of a port.  One file per system
// (ConsolePosix.cpp, ConsoleWindows.cpp), chosen in CMake.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace Console {

// The program's arguments after its name, as UTF-8 whatever the system's code page: Windows
// gives them as UTF-16 (a Windows 10 1809 system keeps its ANSI code page, 1251 on a
// Ukrainian one, although the manifest asks for UTF-8); elsewhere they are taken as given.
std::vector<std::string> Arguments(int argc, char** argv);

// From now on the first Ctrl+C only marks an interruption (InterruptRequested); a second
// one ends the program at once, as Ctrl+C normally does.
void InstallInterruptHandler();
// True once Ctrl+C has been pressed.  Safe from any thread.
bool InterruptRequested();
// Marks an interruption as Ctrl+C would (for the program's own use and for tests).
void RequestInterrupt();

// Standard output and error accept UTF-8 text (and, on a terminal, the escape sequences
// that move the cursor and clear a line).
void PrepareOutput();
bool StdoutIsTerminal();
bool StderrIsTerminal();
// Columns and rows of the terminal on standard output; 0 when unknown.
int TerminalColumns();
int TerminalRows();

// The time of day as the system's regional settings write it (hours, minutes, seconds).
std::string LongTimeText();

// The calendar time `t` on the local clock and in UTC; false when the system cannot say.
bool BrokenDownTime(std::time_t t, std::tm& local, std::tm& utc);

// The name under which the serial component opens a port the port facts list: its device
// path where a path names it (POSIX), its list name elsewhere (COM3 on Windows).
std::string OpenableName(const std::string& listName, const std::string& devicePath);

// A text that is equal for two names of the same device ("ttyUSB0", "/dev/ttyUSB0" and a
// link to it; "com3" and "COM3"), so that a port given twice is found before any opening.
std::string PortIdentity(const std::string& port);

// 0 when the port's device is there and this user may open it for reading and writing;
// otherwise the number of the serial component's message that opening it would raise
// (1: it does not exist, 2: access denied).
int PortOpenProblem(const std::string& port);

} // namespace Console
