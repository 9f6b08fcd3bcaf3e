// --list where the serial component describes no more than the port names.
#include <cstdio>

#include "ComMessages.h"
#include "Json.h"
#include "Options.h"
#include "PortList.h"
#include "PortListing.h"
#include "Reporter.h"

int RunPortList(bool json) {
    std::vector<std::string> names;
    try {
        ListSerialPorts(names);
    } catch (const EComPort& e) {
        TReporter::Error(json ? TReportForm::Json : TReportForm::Plain, e.what(), exSerial);
        return exSerial;
    }
    for (const auto& name : names) {
        if (json) {
            std::printf("%s\n",
                        TJsonObject().Add("event", "port").Add("port", name).Text().c_str());
        } else {
            std::printf("%s\n", name.c_str());
        }
    }
    std::fflush(stdout);
    return exOk;
}
