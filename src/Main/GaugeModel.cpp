#include "GaugeModel.h"

#include <cmath>
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
    const double value =
        100.0 / static_cast<double>(range) * static_cast<double>(Progress_ - MinValue_);
    return static_cast<int>(std::nearbyint(value)); // the default rounding mode: half to even
}

int TGaugeModel::FilledPixels(int width) const {
    const std::int64_t range = MaxValue_ - MinValue_;
    if (range == 0 || width <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long double>(width) * (Progress_ - MinValue_) / range);
}

void TGaugeModel::Changed(bool rangeChanged, int oldPixels) {
    if (OnVisibleChange && (rangeChanged || FilledPixels(PixelWidth) != oldPixels)) {
        OnVisibleChange();
    }
}
