// Catches every message, error, beep, tone and shell open for the length of a test.
#pragma once

#include <string>
#include <vector>

#include "Feedback.h"

class TFeedbackRecorder {
public:
    using TKind = TFeedbackRecord::TKind;

    TFeedbackRecorder() {
        TFeedback::SetSink([this](const TFeedbackRecord& r) { Records.push_back(r); });
    }
    ~TFeedbackRecorder() { TFeedback::SetSink({}); }
    TFeedbackRecorder(const TFeedbackRecorder&) = delete;
    TFeedbackRecorder& operator=(const TFeedbackRecorder&) = delete;

    std::vector<TFeedbackRecord> Of(TKind kind) const {
        std::vector<TFeedbackRecord> found;
        for (const TFeedbackRecord& r : Records) {
            if (r.Kind == kind) {
                found.push_back(r);
            }
        }
        return found;
    }
    std::vector<std::string> Texts(TKind kind) const {
        std::vector<std::string> texts;
        for (const TFeedbackRecord& r : Of(kind)) {
            texts.push_back(r.Text);
        }
        return texts;
    }
    std::vector<unsigned> Beeps() const {
        std::vector<unsigned> types;
        for (const TFeedbackRecord& r : Of(TKind::Beep)) {
            types.push_back(r.Value);
        }
        return types;
    }
    void Clear() { Records.clear(); }

    std::vector<TFeedbackRecord> Records;
};
