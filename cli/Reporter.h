// Everything tarvex6-flash prints while ports run, from any port's thread.
//
// Three forms: JSON lines on stdout (--json); on a terminal one live line per port, redrawn
// in place; otherwise plain lines.  Results that are not a success, and errors, go to
// stderr except in JSON, where stdout carries every result.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Json.h"
#include "Progress.h"
#include "ResultText.h"

enum class TReportForm { Json, Live, Plain };

class TReporter {
public:
    TReporter(TReportForm form, std::vector<std::string> ports, std::FILE* out = stdout,
              std::FILE* err = stderr);

    void Progress(std::size_t index, const TPortProgress& progress);
    void Finished(std::size_t index, const TPortResult& result);
    // After every port has finished: the messages of the live form, the last word on Ctrl+C.
    void Close(bool interrupted);

    // A message for the user about the whole run (not a port), e.g. a refused HEX file.
    static void Error(TReportForm form, const std::string& message, int exitCode,
                      std::FILE* out = stdout, std::FILE* err = stderr);

private:
    struct TLine {
        std::string Text;
        std::string PlainPhase; // the phase and tenth of the last plain line
        bool Finished = false;
    };

    std::string ProgressLine(std::size_t index, const TPortProgress& p) const;
    std::string ResultLine(const TPortResult& r) const;
    void PrintMessages(const TPortResult& r);
    void Redraw(std::size_t index);

    TReportForm Form;
    std::vector<std::string> Ports;
    std::FILE* Out;
    std::FILE* Err;
    std::mutex Lock;
    std::vector<TLine> Lines;
    std::vector<TPortResult> Results;
    std::size_t NameWidth = 0;
    int Columns = 0;
};

// What the live and plain lines say of a port's progress, without the port's name.
std::string ProgressText(const TPortProgress& progress);
