// --list: the serial ports as the window lists them, with what each one is and whether this
// user may open it.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ComMessages.h"
#include "Json.h"
#include "Options.h"
#include "OutsideText.h"
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
            std::vector<std::string> stale;
            for (const TStaleLock& lock : p.StaleLocks) {
                stale.push_back(StaleLockText(lock));
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
                .Add("stale_locks", stale)
                .Add("modem_manager_probes", p.ModemManagerProbes)
                .Add("brltty_rules", p.BrlttyRules)
                .Add("service_advice", ServiceAdvice(p));
            std::printf("%s\n", o.Text().c_str());
            continue;
        }
        // The facts are the machine's and the devices' words: names of processes, USB
        // strings, the kernel's log.
        const auto line = [](const std::string& text) {
            std::printf("    %s\n", ShownText(text).c_str());
        };
        const std::string summary = PortSummary(p, EnglishPortLabels);
        std::printf("%s  %s\n", ShownText(p.Name).c_str(), ShownText(p.DevicePath).c_str());
        if (!summary.empty()) {
            line(summary);
        }
        for (const auto& id : p.ById) {
            line(TPortPlaces{}.ById + "/" + id);
        }
        // Mode and group where the system has them (not on Windows).
        const std::string rights =
            p.Mode.empty() && p.Group.empty() ? std::string() : " (" + p.Mode + " " + p.Group + ")";
        if (p.Access == TPortAccess::Allowed) {
            line("may be opened" + rights);
        } else {
            // The reason and the fix are the program's own Ukrainian texts, each on a line of
            // its own.
            line("cannot be opened" + rights + ":");
            if (!reason.empty()) {
                line(reason);
            }
            if (!fix.empty()) {
                line(fix);
            }
        }
        if (!p.Holders.empty()) {
            line(HoldersText(p.Holders));
        }
        for (const TStaleLock& lock : p.StaleLocks) {
            line(StaleLockText(lock));
        }
        const std::string latency = LatencyAdvice(p);
        if (!latency.empty()) {
            line(latency);
        }
        for (const std::string& advice : ServiceAdvice(p)) {
            line(advice);
        }
    }
    if (ports.empty() && !json) {
        std::fprintf(stderr, "tarvex6-flash: no serial ports\n");
    }
    std::fflush(stdout);
    return exOk;
}
