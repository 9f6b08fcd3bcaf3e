#include "Station.h"

#include "Console.h"
#include "FlashCommand.h"
#include "PortRun.h"
#include "StationCore.h"
#include "StationReporter.h"
#include "StationSound.h"
#include "UnitRecord.h"

TStationEnv DefaultStationEnv(bool quiet) {
    TStationEnv env;
    env.Stop = [] { return Console::InterruptRequested(); };
    if (!quiet) {
        env.Sound = [](unsigned type) { StationSound(type); };
    }
    return env;
}

int RunStationCommand(const TCliOptions& o, TReportForm form, const TStationEnv& env) {
    if (const std::string why = PositionProblem(o.Ports, env.Places); !why.empty()) {
        TReporter::Error(form, why, exUsage, env.Out, env.Err);
        return exUsage;
    }
    std::unique_ptr<TRecordLog> log;
    if (!o.LogFile.empty()) {
        std::string error;
        log = TRecordLog::Open(o.LogFile, error);
        if (!log) {
            TReporter::Error(form, error, exUsage, env.Out, env.Err);
            return exUsage;
        }
    }
    TProgramState prepared;
    if (const std::string why = PrepareImage(o, prepared); !why.empty()) {
        TReporter::Error(form, why, exHexRefused, env.Out, env.Err);
        return exHexRefused;
    }
    Console::InstallInterruptHandler();

    TStationSetup setup;
    setup.Positions = o.Ports;
    setup.BaudIndex = o.BaudIndex;
    setup.Places = env.Places;
    setup.Firmware = FirmwareFactsOf(prepared.FlashImage.substr(0, 2 * 65536));
    setup.Log = log.get();
    TStationServices services;
    services.Stop = env.Stop;
    services.Sound = env.Sound;
    services.MakePort = env.MakePort;
    // The same whole run as `tarvex6-flash PORT`.
    services.RunUnit = [&](const std::string& port,
                           const std::function<void(const TPortProgress&)>& progress) {
        TPortJob job;
        job.Port = port;
        job.BaudIndex = o.BaudIndex;
        job.Prepared = &prepared;
        job.Interrupted = env.Stop;
        job.Progress = progress;
        return RunPort(job);
    };
    TStationReporter reporter(form, o.Ports, env.Out);
    TStationCounts counts;
    const int code = RunStation(setup, services, reporter, counts);
    reporter.Close(counts, code);
    return code;
}
