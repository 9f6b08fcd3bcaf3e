// One "Прошити" against an instrument that answers from a script of replies (ReplyScriptOs.h),
// and the rules its outcome must keep whatever the replies were.  Shared by the reply fuzzer
// and the tests of its seeds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Convert.h"
#include "Flows.h"
#include "QuietHost.h"
#include "ReplyScriptOs.h"
#include "WriteTranscript.h"

struct TReplyRun {
    std::optional<TWriteOutcome> Outcome; // none: the description's conversion raised
    std::vector<TExchange> Transcript;
    TFlashGeometry Geometry;
    std::string Description; // MemoAbout after the run
    bool WriteRunning = false;
    bool PortOpen = false;
};

// A blank image of the program's full size: any geometry the erase address allows fits it.
// Its pages are shared, so a copy costs a page table.
inline const TImageText& BlankFlashImage() {
    static const TImageText image = [] {
        TImageText blank;
        blank.AssignBlank(40'000'000);
        return blank;
    }();
    return image;
}

inline TReplyRun RunWriteOnScript(std::string_view script) {
    class TPortHost : public TQuietHost {
    public:
        std::string PortText() override { return "ttyS0"; }
    } host;
    TProgramState state;
    state.FlashImage = BlankFlashImage();
    auto os = std::make_unique<TReplyScriptOs>(SplitReplyScript(script));
    TReplyScriptOs& line = *os;
    TReplyRun run;
    {
        TBComPort port(std::move(os));
        TFlowContext ctx{host, state, port};
        try {
            run.Outcome = ButtonWriteClick(ctx);
        } catch (const EConvertError&) {
            // A six-character description that is no number: the gate's conversion error.
        }
        run.PortOpen = port.IsOpen();
        run.Transcript = std::move(line.Transcript);
    }
    run.Geometry = state.FlashGeometry;
    run.Description = host.Memo.Text();
    run.WriteRunning = state.WriteRunning;
    return run;
}

namespace ReplyRules {

inline bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// The rule the run broke, or nothing.  A finished write must have had every erase, write and
// commit frame answered with its own reply code and fewer than 400 unanswered tries, and end
// with the instrument restarted and the port closed; a failed one must have met 400
// unanswered tries.
inline std::optional<std::string> Broken(const TReplyRun& run) {
    if (run.WriteRunning) {
        return "WriteRunning left set";
    }
    if (!IsUtf8(run.Description)) {
        return "MemoAbout holds text that is not UTF-8";
    }
    const std::size_t unanswered = WriteTranscript::UnansweredTries(run.Transcript);
    if (run.Outcome == TWriteOutcome::Completed) {
        if (auto problem = WriteTranscript::FinishedWriteProblem(run.Transcript, run.Geometry)) {
            return "finished, but " + *problem;
        }
        if (unanswered > 399) {
            return "finished after " + std::to_string(unanswered) + " unanswered tries";
        }
        const std::size_t n = run.Transcript.size();
        if (n < 2 || run.Transcript[n - 1].Request != "g0101;" ||
            run.Transcript[n - 2].Request != "g0101;") {
            return "finished without the two reset frames at the end";
        }
        if (run.PortOpen) {
            return "finished with the port open";
        }
    }
    if (run.Outcome == TWriteOutcome::Failed && unanswered < 400) {
        return "failed after only " + std::to_string(unanswered) + " unanswered tries";
    }
    return std::nullopt;
}

} // namespace ReplyRules
