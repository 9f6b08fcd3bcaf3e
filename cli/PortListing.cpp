// --list: the serial ports as the window lists them, with what each one is and whether this
// user may open it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ComMessages.h"
#include "Json.h"
#include "Options.h"
#include "PortInfo.h"
#include "PortListing.h"
#include "Reporter.h"

namespace {

const char* AccessKey(TPortAccess access) {
    switch (access) {
    case TPortAccess::Allowed:
        return "allowed";
    case TPortAccess::NoDeviceNode:
        return "no-device-node";
    case TPortAccess::NotInGroup:
        return "not-in-group";
    case TPortAccess::GroupNotInSession:
        return "group-not-in-session";
    case TPortAccess::OwnerOnly:
        return "owner-only";
    case TPortAccess::Denied:
        break;
    }
    return "denied";
}

// What the port is, with the command line's English labels; the window shows the same
// facts with Ukrainian ones.
const TPortSummaryLabels EnglishPortLabels = {
    .PseudoTerminal = "pseudo-terminal",
#ifdef _WIN32
    .Driver = "device", // the system's device name, not a driver
#else
    .Driver = "driver",
#endif
    .SerialNumber = "serial number",
    .LatencyTimer = "latency timer",
    .Milliseconds = "ms",
};

} // namespace

int RunPortList(bool json) {
    const TReportForm form = json ? TReportForm::Json : TReportForm::Plain;
    std::vector<TSerialPortInfo> ports;
    const TPortUser user = CurrentPortUser();
    try {
        ports = DescribeSerialPorts({}, user);
    } catch (const EComPort& e) {
        TReporter::Error(form, e.what(), exSerial);
        return exSerial;
    }
    for (const auto& p : ports) {
        const std::string reason = AccessReason(p, user);
        const std::string fix = AccessFix(p, user);
        if (json) {
            std::vector<std::int64_t> pids;
            for (const TPortHolder& h : p.Holders) {
                pids.push_back(h.Pid);
            }
            TJsonObject o;
            o.Add("event", "port")
                .Add("port", p.Name)
                .Add("path", p.DevicePath)
                .Add("driver", p.Driver)
                .Add("manufacturer", p.Manufacturer)
                .Add("product", p.Product)
                .Add("serial_number", p.SerialNumber)
                .Add("vendor_id", p.VendorId)
                .Add("product_id", p.ProductId)
                .Add("by_id", p.ById)
                .Add("link_target", p.LinkTarget)
                .Add("access", AccessKey(p.Access))
                .Add("may_open", p.Access == TPortAccess::Allowed)
                .Add("group", p.Group)
                .Add("mode", p.Mode)
                .Add("reason", reason)
                .Add("fix", fix)
                .Add("latency_timer_ms", p.LatencyTimerMs)
                .Add("latency_advice", LatencyAdvice(p))
                .Add("held_by", p.Holders.empty() ? std::string() : HoldersText(p.Holders))
                .Add("holder_pids", pids)
                .Add("modem_manager_probes", p.ModemManagerProbes)
                .Add("brltty_rules", p.BrlttyRules)
                .Add("service_advice", ServiceAdvice(p));
            std::printf("%s\n", o.Text().c_str());
            continue;
        }
        const std::string summary = PortSummary(p, EnglishPortLabels);
        std::printf("%s  %s\n", p.Name.c_str(), p.DevicePath.c_str());
        if (!summary.empty()) {
            std::printf("    %s\n", summary.c_str());
        }
        for (const auto& id : p.ById) {
            std::printf("    %s/%s\n", TPortPlaces{}.ById.c_str(), id.c_str());
        }
        // Mode and group where the system has them (not on Windows).
        const std::string rights =
            p.Mode.empty() && p.Group.empty() ? std::string() : " (" + p.Mode + " " + p.Group + ")";
        if (p.Access == TPortAccess::Allowed) {
            std::printf("    may be opened%s\n", rights.c_str());
        } else {
            // The reason and the fix are the program's own Ukrainian texts, each on a line of
            // its own.
            std::printf("    cannot be opened%s:\n", rights.c_str());
            if (!reason.empty()) {
                std::printf("    %s\n", reason.c_str());
            }
            if (!fix.empty()) {
                std::printf("    %s\n", fix.c_str());
            }
        }
        if (!p.Holders.empty()) {
            std::printf("    %s\n", HoldersText(p.Holders).c_str());
        }
        const std::string latency = LatencyAdvice(p);
        if (!latency.empty()) {
            std::printf("    %s\n", latency.c_str());
        }
        for (const std::string& advice : ServiceAdvice(p)) {
            std::printf("    %s\n", advice.c_str());
        }
    }
    if (ports.empty() && !json) {
        std::fprintf(stderr, "tarvex6-flash: no serial ports\n");
    }
    std::fflush(stdout);
    return exOk;
}
