// Any bytes as the instrument's side of a whole "Прошити": the answers to the wake-up, the
// identify and describe requests, and to every erase, write, commit and reset frame, fed
// through the serial component's OS seam (ReplyScriptOs.h: pieces separated by 0x1E).
// Besides crashes, hangs and sanitizer reports, it stops at a broken rule of ReplyRun.h:
// above all, a write reported as finished while one of its frames was never answered with
// its own reply code.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "ReplyRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TReplyRun run =
        RunWriteOnScript(std::string_view(reinterpret_cast<const char*>(data), size));
    if (const auto broken = ReplyRules::Broken(run)) {
        std::printf("rule broken: %s\n", broken->c_str());
        std::abort();
    }
    return 0;
}
