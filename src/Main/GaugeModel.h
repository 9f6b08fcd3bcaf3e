// The main gauge's values and rules, shared by the widget and by test doubles.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>

// Raised when MaxValue would fall below MinValue.
class EGaugeRange : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TGaugeModel {
public:
    std::int64_t MinValue() const { return MinValue_; }
    std::int64_t MaxValue() const { return MaxValue_; }
    std::int64_t Progress() const { return Progress_; }

    // Refuses a maximum below MinValue with "Value must be between %d and %d" (MinValue + 1,
    // 2147483647), leaving the gauge unchanged; lowers Progress to a smaller maximum.
    void SetMaxValue(std::int64_t v);
    // Stores v limited to MinValue .. MaxValue.
    void SetProgress(std::int64_t v);
    void Advance(std::int64_t n) {
        // A full gauge stays full: the preparation's fill steps it a million times past that.
        if (n > 0 && Progress_ == MaxValue_) {
            return;
        }
        SetProgress(Progress_ + n);
    }

    // 100 / (Max - Min) * (Progress - Min), rounded half to even; 0 when Max == Min.
    int Percent() const;
    // Length of the filled bar for a bar `width` pixels wide.
    int FilledPixels(int width) const;

    // Called only when the filled length at PixelWidth changed or the range changed, so a
    // step that changes nothing on screen costs a comparison.
    void SetPixelWidth(int width) { PixelWidth = width; }
    void SetOnVisibleChange(std::function<void()> f) { OnVisibleChange = std::move(f); }

private:
    void Changed(bool rangeChanged, int oldPixels);

    std::int64_t MinValue_ = 0;
    std::int64_t MaxValue_ = 100;
    std::int64_t Progress_ = 0;
    int PixelWidth = 0;
    std::function<void()> OnVisibleChange;
};
