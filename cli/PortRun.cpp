#include "PortRun.h"

#include <exception>

#include "BCPort.h"
#include "Convert.h"
#include "Flows.h"
#include "Identify.h"
#include "Options.h"
#include "PortSettings.h"

namespace {

// Said after a Ctrl+C: the engine sends no restart when it stops.
constexpr const char* AbortedBeforeErase =
    "Зупинено користувачем до запису: мікропрограма приладу не змінена.\r\n"
    "Прилад залишається в режимі завантажувача.";
constexpr const char* AbortedDuringWrite =
    "Зупинено користувачем! Мікропрограма записана частково!\r\n"
    "Прилад залишається в режимі завантажувача: запишіть мікропрограму повторно.";

void SetOutcome(TPortResult& r, const char* outcome, int exitCode, bool inBootloader) {
    r.Outcome = outcome;
    r.ExitCode = exitCode;
    r.InBootloader = inBootloader;
}

void Judge(TPortResult& r, TWriteOutcome outcome, const TTerminalHost& host) {
    switch (outcome) {
    case TWriteOutcome::Completed:
        SetOutcome(r, "flashed", exOk, false);
        break;
    case TWriteOutcome::NoAnswer:
        SetOutcome(r, "no-answer", exNoAnswer, false);
        break;
    case TWriteOutcome::UnsupportedLoader:
        SetOutcome(r, "unsupported-loader", exNoAnswer, true);
        break;
    case TWriteOutcome::GateRefused:
        SetOutcome(r, "refused", exGate, false);
        break;
    case TWriteOutcome::NotWritable:
        // The instrument reports more flash than a frame can address.
        SetOutcome(r, "not-writable", exNoAnswer, true);
        break;
    case TWriteOutcome::Failed:
        SetOutcome(r, "write-failed", exWriteFailed, true);
        break;
    case TWriteOutcome::Aborted:
        SetOutcome(r, "aborted", exAborted, true);
        r.Messages.push_back(host.Snapshot().Tries == 0 ? AbortedBeforeErase : AbortedDuringWrite);
        break;
    case TWriteOutcome::Ignored:
        SetOutcome(r, "serial-error", exSerial, false); // cannot happen: nothing else runs
        break;
    }
}

} // namespace

TPortResult RunPort(const TPortJob& job) {
    TPortResult result;
    result.Port = job.Port;

    TProgramState state;
    if (!job.IdentifyOnly && job.Prepared) {
        state.FlashImage = job.Prepared->FlashImage;
        state.OpenedFileName = job.Prepared->OpenedFileName;
    }
    TTerminalHost host(state, job.Port, job.BaudIndex, job.Interrupted, job.Progress);
    TBComPort port;
    ApplyStoredPortSettings(port);
    port.SetUiThread(&host.UiQueue());
    TFlowContext ctx{host, state, port};

    std::string error;
    std::string detail;
    try {
        if (job.IdentifyOnly) {
            const TIdentifyOutcome outcome = IdentifyDevice(ctx, TIdentifyCaller::ButtonConect);
            if (outcome == TIdentifyOutcome::Identified) {
                host.ShowMessage("Визначино:\r\n" + host.MemoAbout().Text());
                SetOutcome(result, "identified", exOk, true);
            } else {
                HandleIdentifyFailure(ctx, TIdentifyCaller::ButtonConect, outcome);
                if (outcome == TIdentifyOutcome::NoAnswer) {
                    SetOutcome(result, "no-answer", exNoAnswer, false);
                } else {
                    SetOutcome(result, "unsupported-loader", exNoAnswer, true);
                }
            }
        } else {
            const TWriteOutcome outcome =
                ButtonWriteClick(ctx, job.Force ? TVersionGate::Skip : TVersionGate::Check);
            Judge(result, outcome, host);
        }
    } catch (const EComPort& e) {
        // Lost during the write, the instrument was left in its bootloader, part written.
        SetOutcome(result, "serial-error", exSerial, host.WriteStarted());
        error = e.what();
        detail = e.Detail(); // message 2: who holds the port
    } catch (const EConvertError& e) {
        // Only the version gate converts here: a six-character description that is no number.
        SetOutcome(result, "refused", exGate, true);
        error = e.what();
    } catch (const std::exception& e) {
        SetOutcome(result, "serial-error", exSerial, false);
        error = e.what();
    }
    try {
        port.Close();
    } catch (const std::exception&) {
        // A device that vanished cannot be closed in order; the error above says so.
    }

    result.Messages.insert(result.Messages.begin(), host.Messages().begin(), host.Messages().end());
    if (!error.empty()) {
        result.Messages.push_back(error);
    }
    if (!detail.empty()) {
        result.Messages.push_back(detail);
    }
    result.Last = host.Snapshot();
    if (result.Outcome == "flashed") {
        result.Last.Phase = "done";
        result.Last.Unit = result.Last.Units;
        result.Last.Block = result.Last.Blocks;
        result.Last.Bytes = result.Last.TotalBytes;
    }
    result.Identified = state.FlashGeometry.LoaderVersion.size() > 0 || state.ReplyCode == "82";
    result.Geometry = state.FlashGeometry;
    result.Geometry.LoaderVersion = Cp1251ToUtf8(result.Geometry.LoaderVersion);
    result.InstalledVersion = host.Description();
    return result;
}
