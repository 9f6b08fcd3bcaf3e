#include "FlashCommand.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <thread>

#include "BuiltinFirmware.h"
#include "ComMessages.h"
#include "Console.h"
#include "FlashImage.h"
#include "Options.h"
#include "OutsideText.h"
#include "PortListing.h"
#include "PortRun.h"
#include "Reporter.h"
#include "Station.h"
#include "SystemFacts.h"
#include "TarvexVersion.h"
#include "TerminalHost.h"

namespace {

TReportForm FormFor(const TCliOptions& o) {
    if (o.Json) {
        return TReportForm::Json;
    }
    if (!Console::StdoutIsTerminal()) {
        return TReportForm::Plain;
    }
    // The live lines are redrawn in place: they must all fit on the screen (a station's
    // counts take one more).
    const int rows = Console::TerminalRows();
    const std::size_t lines = o.Ports.size() + (o.Mode == TCliMode::Station ? 1 : 0);
    return rows == 0 || static_cast<std::size_t>(rows) > lines ? TReportForm::Live
                                                               : TReportForm::Plain;
}

// A port given twice, or one that cannot be opened: refused before any port is touched.
int CheckPorts(const TCliOptions& o, TReportForm form) {
    std::map<std::string, std::string> seen;
    for (const auto& port : o.Ports) {
        const auto [it, fresh] = seen.emplace(SystemFacts::PortIdentity(port), port);
        if (!fresh) {
            TReporter::Error(form,
                             it->second == port
                                 ? "port " + port + " given twice"
                                 : "port " + port + " given twice (it is " + it->second + ")",
                             exUsage);
            return exUsage;
        }
    }
    for (const auto& port : o.Ports) {
        if (const int problem = SystemFacts::PortOpenProblem(port)) {
            TReporter::Error(form, port + ": " + ComMessageText(problem), exSerial);
            return exSerial;
        }
    }
    return exOk;
}

int RunPorts(const TCliOptions& o, TReportForm form, const TProgramState* prepared) {
    // A write is stopped at its next check; an identification writes nothing and may be
    // ended at once, as Ctrl+C ends any command.
    if (o.Mode == TCliMode::Flash) {
        Console::InstallInterruptHandler();
    }
    TReporter reporter(form, o.Ports);
    std::vector<TPortResult> results(o.Ports.size());
    std::vector<std::thread> threads;
    threads.reserve(o.Ports.size());
    for (std::size_t i = 0; i < o.Ports.size(); ++i) {
        TPortJob job;
        job.Port = o.Ports[i];
        job.BaudIndex = o.BaudIndex;
        job.IdentifyOnly = o.Mode == TCliMode::Identify;
        job.Force = o.Force;
        job.Prepared = prepared;
        job.Interrupted = [] { return Console::InterruptRequested(); };
        job.Progress = [&reporter, i](const TPortProgress& p) { reporter.Progress(i, p); };
        threads.emplace_back([&results, &reporter, job = std::move(job), i] {
            results[i] = RunPort(job);
            reporter.Finished(i, results[i]);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    reporter.Close(Console::InterruptRequested());
    int code = exOk;
    for (const auto& r : results) {
        code = std::max(code, r.ExitCode);
    }
    return code;
}

} // namespace

std::string PrepareImage(const TCliOptions& o, TProgramState& prepared) {
    TTerminalHost host(prepared, {}, o.BaudIndex, {}, {});
    try {
        if (o.HexFile.empty()) {
            host.TextTerminal().SetText(std::string(BuiltinFirmwareText()));
        } else {
            const std::size_t slash = o.HexFile.find_last_of("/\\");
            prepared.OpenedFileName =
                slash == std::string::npos ? o.HexFile : o.HexFile.substr(slash + 1);
            std::string content;
            if (!ReadHexFile(o.HexFile, content)) {
                return std::string(TooLargePrefix) + prepared.OpenedFileName;
            }
            host.TextTerminal().SetText(std::move(content));
        }
        if (PrepareFlashImage(host, prepared)) {
            return {};
        }
    } catch (const std::exception& e) {
        return e.what();
    }
    std::string why;
    for (const auto& m : host.Messages()) {
        why += (why.empty() ? "" : "\r\n") + m;
    }
    return why.empty() ? std::string("Мікропрограма не підготовлена до запису!") : why;
}

int RunFlashCommand(const std::vector<std::string>& args) {
    Console::PrepareOutput();
    const TCliParse parsed = ParseCliOptions(args);
    if (!parsed.Ok) {
        std::fprintf(stderr, "tarvex6-flash: %s\n(see tarvex6-flash --help)\n",
                     ShownText(parsed.Error).c_str());
        return exUsage;
    }
    const TCliOptions& o = parsed.Options;
    switch (o.Mode) {
    case TCliMode::Help:
        std::fputs(CliUsageText(), stdout);
        return exOk;
    case TCliMode::Version:
        std::printf("tarvex6-flash %s (firmware %s)\n", TarvexVersion, BuiltinFirmwareVersion);
        return exOk;
    case TCliMode::List:
        return RunPortList(o.Json);
    case TCliMode::Station:
        return RunStationCommand(o, FormFor(o), DefaultStationEnv(o.Quiet));
    case TCliMode::Flash:
    case TCliMode::Identify:
        break;
    }

    const TReportForm form = FormFor(o);
    if (const int code = CheckPorts(o, form)) {
        return code;
    }
    if (o.Mode == TCliMode::Identify) {
        return RunPorts(o, form, nullptr);
    }
    TProgramState prepared;
    if (const std::string why = PrepareImage(o, prepared); !why.empty()) {
        TReporter::Error(form, why, exHexRefused);
        return exHexRefused;
    }
    return RunPorts(o, form, &prepared);
}
