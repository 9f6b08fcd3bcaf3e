// Judging a write by what went over the line, apart from the engine's own bookkeeping: the
// reply fuzzer and the tests of its seeds hold the engine's outcome against these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ProgramState.h"
#include "ReplyScriptOs.h"

namespace WriteTranscript {

// The reply code a write-phase request must be answered with ("g84" for an erase "g04...",
// "g85" for a write, "g86" for the commit), or nothing for the other requests.
inline std::optional<std::string> OwnReplyCode(std::string_view request) {
    if (request.size() < 3 || request.substr(0, 2) != "g0") {
        return std::nullopt;
    }
    if (request[2] != '4' && request[2] != '5' && request[2] != '6') {
        return std::nullopt;
    }
    return std::string("g8") + request[2];
}

// Answered with its own code: the reply starts with it and ends with ";".
inline bool AnsweredWith(std::string_view reply, std::string_view code) {
    return reply.size() > code.size() && reply.substr(0, code.size()) == code &&
           reply.back() == ';';
}

inline std::string Hex(std::int64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<long long>(value));
    return text;
}

// Why a write reported as finished was not one, or nothing: every erase, write and commit
// frame the geometry calls for must have been sent in order (erase of each unit at its
// address, then each block's write and commit), retried only while unanswered, and its last
// try answered with its own reply code; no other erase, write or commit may have been sent.
inline std::optional<std::string> FinishedWriteProblem(const std::vector<TExchange>& transcript,
                                                       const TFlashGeometry& geometry) {
    std::vector<const TExchange*> tries;
    for (const TExchange& e : transcript) {
        if (OwnReplyCode(e.Request)) {
            tries.push_back(&e);
        }
    }
    std::size_t next = 0;
    // Consumes the tries of one frame; `exact` compares the whole request, else its start.
    const auto frame = [&](const std::string& expected, bool exact) -> std::optional<std::string> {
        const std::string code = *OwnReplyCode(expected);
        for (;;) {
            if (next == tries.size()) {
                return expected + "... never answered with " + code;
            }
            const TExchange& e = *tries[next++];
            const bool same = exact ? e.Request == expected
                                    : e.Request.compare(0, expected.size(), expected) == 0;
            if (!same) {
                return "expected " + expected + "..., sent " + e.Request;
            }
            if (AnsweredWith(e.Reply, code)) {
                return std::nullopt;
            }
        }
    };
    std::int64_t address = 0;
    for (std::int32_t unit = 0; unit < geometry.EraseCount; ++unit) {
        if (auto problem = frame("g04" + Hex(address, 6), false)) {
            return problem;
        }
        for (std::int32_t block = 1; block <= geometry.BlocksPerErase; ++block) {
            if (auto problem = frame("g05" + Hex(block, 2), false)) {
                return problem;
            }
            if (auto problem = frame("g0606;", true)) {
                return problem;
            }
            address += geometry.BlockSize;
        }
    }
    if (next != tries.size()) {
        return "sent after the last frame: " + tries[next]->Request;
    }
    return std::nullopt;
}

// Erase, write and commit tries not answered with their own code.
inline std::size_t UnansweredTries(const std::vector<TExchange>& transcript) {
    std::size_t count = 0;
    for (const TExchange& e : transcript) {
        const auto code = OwnReplyCode(e.Request);
        if (code && !AnsweredWith(e.Reply, *code)) {
            ++count;
        }
    }
    return count;
}

} // namespace WriteTranscript
