#include "TextView.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

#include "OutsideText.h"

namespace {
// Lines longer than this are cut when painted; nobody reads a 100 MB line on screen.
constexpr std::size_t MaxPaintedBytes = 4096;
constexpr int Margin = 2;
} // namespace

TTextView::TTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    Text_.SetListener(this);
}

TTextView::~TTextView() {
    Text_.SetListener(nullptr);
}

int TTextView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

void TTextView::TextReset() {
    WidestSeen = 0;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
}

void TTextView::TextAppended(std::size_t) {
    UpdateScrollBars();
    viewport()->update();
}

void TTextView::UpdateScrollBars() {
    const int visibleLines = std::max(1, viewport()->height() / LineHeight());
    const auto lines = static_cast<long long>(Text_.LineCount());
    const int maxTop = static_cast<int>(std::clamp<long long>(lines - visibleLines, 0, INT_MAX));
    verticalScrollBar()->setRange(0, maxTop);
    verticalScrollBar()->setPageStep(visibleLines);
    horizontalScrollBar()->setRange(0, std::max(0, WidestSeen + 2 * Margin - viewport()->width()));
    horizontalScrollBar()->setPageStep(viewport()->width());
}

void TTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TTextView::scrollContentsBy(int, int) {
    viewport()->update();
}

void TTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = LineHeight();
    const std::size_t first = static_cast<std::size_t>(verticalScrollBar()->value());
    const std::size_t count = static_cast<std::size_t>(viewport()->height() / lineHeight + 2);
    const int x = Margin - horizontalScrollBar()->value();
    int widest = WidestSeen;
    for (std::size_t i = 0; i < count && first + i < Text_.LineCount(); ++i) {
        // The lines are a unit's description, the log, a HEX file's text: shown, not obeyed.
        const std::string line = ShownText(Text_.Line(first + i).substr(0, MaxPaintedBytes));
        const QString shown = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
        const int y = static_cast<int>(i) * lineHeight;
        painter.drawText(x, y + metrics.ascent(), shown);
        widest = std::max(widest, metrics.horizontalAdvance(shown));
    }
    if (widest != WidestSeen) {
        WidestSeen = widest;
        UpdateScrollBars();
    }
}
