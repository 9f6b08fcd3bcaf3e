// Prints the facts the window shows in a port's tool tip (its summary line) for each port
// named, one line each, for the guest of the real-driver test:
//   port_facts ttyUSB0   ->   "ttyUSB0: драйвер ftdi_sio, ..."
#include <cstdio>

#include "PortInfo.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::printf("%s: %s\n", argv[i], PortSummary(DescribeSerialPort(argv[i])).c_str());
    }
    return argc > 1 ? 0 : 2;
}
