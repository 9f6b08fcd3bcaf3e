#include "TextArea.h"

void TTextArea::SetText(std::string text) {
    Text_ = std::move(text);
    LineStarts.clear();
    IndexFrom(0);
    if (Listener) {
        Listener->TextReset();
    }
}

void TTextArea::Append(std::string_view piece) {
    if (piece.empty()) {
        return;
    }
    // Re-index from the start of the last line: a CR at the old end may pair with a LF now.
    const std::size_t firstLine = LineStarts.empty() ? 0 : LineStarts.size() - 1;
    const std::size_t from = LineStarts.empty() ? 0 : LineStarts.back();
    if (!LineStarts.empty()) {
        LineStarts.pop_back();
    }
    Text_.append(piece);
    IndexFrom(from);
    if (Listener) {
        Listener->TextAppended(firstLine);
    }
}

void TTextArea::AppendLine(std::string_view line) {
    std::string piece;
    piece.reserve(line.size() + 4);
    if (!Text_.empty() && !EndsWithCrLf()) {
        piece += "\r\n";
    }
    piece += line;
    piece += "\r\n";
    Append(piece);
}

bool TTextArea::EndsWithCrLf() const {
    return Text_.size() >= 2 && Text_[Text_.size() - 2] == '\r' && Text_.back() == '\n';
}

std::string_view TTextArea::Line(std::size_t index) const {
    if (index >= LineStarts.size()) {
        return {};
    }
    const std::size_t start = LineStarts[index];
    std::size_t end = start;
    while (end < Text_.size() && Text_[end] != '\r' && Text_[end] != '\n') {
        ++end;
    }
    return std::string_view(Text_).substr(start, end - start);
}

void TTextArea::IndexFrom(std::size_t position) {
    const std::size_t size = Text_.size();
    if (position >= size) {
        return;
    }
    LineStarts.push_back(position);
    for (std::size_t i = position; i < size; ++i) {
        const char c = Text_[i];
        if (c != '\r' && c != '\n') {
            continue;
        }
        if (c == '\r' && i + 1 < size && Text_[i + 1] == '\n') {
            ++i;
        }
        if (i + 1 < size) {
            LineStarts.push_back(i + 1);
        }
    }
}
