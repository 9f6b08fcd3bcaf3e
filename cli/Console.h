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
// one ends the program at once, as Ctrl+C normally does.  The other ways a program is told
// to stop while it may be writing do the same: SIGTERM and SIGHUP (the terminal closed) on
// POSIX, where a closed output (SIGPIPE) is ignored and no longer ends it; the console's
// close, logoff and shutdown events on Windows, whose handler then holds the program up to
// the few seconds Windows gives, until Finished.
void InstallInterruptHandler();
// The program has done all it had to after an interruption (records written, counts
// printed): a Windows close or shutdown may now end it.
void Finished();
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

} // namespace Console
