#include <cstdio>

#include "Json.h"
#include "Options.h"

int RunPortList(bool json) {
    (void)json;
    std::fprintf(stderr, "tarvex6-flash: --list is not ready yet\n");
    return exUsage;
}
