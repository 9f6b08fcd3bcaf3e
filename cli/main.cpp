// tarvex6-flash: the window's flashing on the command line, for scripts, service benches and
// several instruments at once.
#include <clocale>
#include <cstdio>

#include "Console.h"
#include "FlashCommand.h"

int main(int argc, char** argv) {
    // The clock's text follows the regional settings, as in the window; numbers stay plain.
    std::setlocale(LC_TIME, "");
    const int code = RunFlashCommand(Console::Arguments(argc, argv));
    std::fflush(nullptr);
    Console::Finished();
    return code;
}
