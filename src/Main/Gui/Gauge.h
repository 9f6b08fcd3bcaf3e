// The main gauge: a maroon bar with the percentage centred over it in white.
//
// The widget owns its TGaugeModel and repaints only when the model says the picture
// changed (a pixel of the bar or the range), so a step that changes nothing on screen
// costs a comparison.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>

#include "GaugeModel.h"

class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);

    TGaugeModel& Model() { return Model_; }
    const TGaugeModel& Model() const { return Model_; }

    std::int64_t MinValue() const { return Model_.MinValue(); }
    std::int64_t MaxValue() const { return Model_.MaxValue(); }
    std::int64_t Progress() const { return Model_.Progress(); }
    void SetMaxValue(std::int64_t v) { Model_.SetMaxValue(v); }
    void SetProgress(std::int64_t v) { Model_.SetProgress(v); }
    void Advance(std::int64_t n) { Model_.Advance(n); }

    static constexpr const char* Suffix = "%";
    // The percentage as shown, for example "38%".
    std::string Text() const;
    // How many repaints the model has asked for since creation.
    long RepaintRequests() const { return RepaintRequests_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect BarRect() const;

    TGaugeModel Model_;
    long RepaintRequests_ = 0;
};
