// A read-only view of a TTextArea with both scroll bars.
//
// It lays out nothing in advance: painting walks only the lines in sight, so a log of
// thousands of lines or a text of 100 MB costs the view nothing until it is looked at.
#pragma once

#include <QAbstractScrollArea>

#include "TextArea.h"

class TTextView : public QAbstractScrollArea, private TTextArea::TListener {
    Q_OBJECT
public:
    explicit TTextView(QWidget* parent = nullptr);
    ~TTextView() override;

    TTextArea& Text() { return Text_; }
    const TTextArea& Text() const { return Text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void TextReset() override;
    void TextAppended(std::size_t firstLine) override;
    void UpdateScrollBars();
    int LineHeight() const;

    TTextArea Text_;
    // Width of the widest line painted so far: lines out of sight are never measured.
    int WidestSeen = 0;
};
