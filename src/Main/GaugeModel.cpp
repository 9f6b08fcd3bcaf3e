#include "GaugeModel.h"

#include <string>

void TGaugeModel::SetMaxValue(std::int64_t v) {
    if (v < MinValue_) {
        throw EGaugeRange("Value must be between " + std::to_string(MinValue_ + 1) + " and " +
                          std::to_string(2147483647));
    }
    if (v == MaxValue_) {
        return;
    }
    const int oldPixels = FilledPixels(PixelWidth);
    MaxValue_ = v;
    if (Progress_ > MaxValue_) {
        Progress_ = MaxValue_;
    }
    Changed(true, oldPixels);
}

void TGaugeModel::SetProgress(std::int64_t v) {
    if (v < MinValue_) {
        v = MinValue_;
    } else if (v > MaxValue_) {
        v = MaxValue_;
    }
    if (v == Progress_) {
        return;
    }
    const int oldPixels = FilledPixels(PixelWidth);
    Progress_ = v;
    Changed(false, oldPixels);
}

int TGaugeModel::Percent() const {
    const std::int64_t range = MaxValue_ - MinValue_;
    if (range == 0) {
        return 0;
    }
    // In whole numbers, so that an exact half (8700 of 60000 is 14.5) is seen as one and
    // goes to the even neighbour; floating point would land a hair above or below it.
    const std::int64_t scaled = 100 * (Progress_ - MinValue_);
    std::int64_t percent = scaled / range;
    const std::int64_t twiceRest = 2 * (scaled % range);
    if (twiceRest > range || (twiceRest == range && percent % 2 != 0)) {
        ++percent;
    }
    return static_cast<int>(percent);
}

int TGaugeModel::FilledPixels(int width) const {
    const std::int64_t range = MaxValue_ - MinValue_;
    if (range == 0 || width <= 0) {
        return 0;
    }
    // Whole numbers: exact, and cheaper than floating point in the preparation's steps.  For
    // any range a gauge is given (up to 2147483647) the product stays far inside 64 bits.
    return static_cast<int>(static_cast<std::int64_t>(width) * (Progress_ - MinValue_) / range);
}

void TGaugeModel::Changed(bool rangeChanged, int oldPixels) {
    if (OnVisibleChange && (rangeChanged || FilledPixels(PixelWidth) != oldPixels)) {
        OnVisibleChange();
    }
}
