// The content of a multi-line text area (MemoAbout, TextTerminal), kept apart from any widget.
//
// Lines end at CR, LF or CR LF; a break at the very end of the text does not open another
// line, so "A\r\nB\r\n" has two lines and the empty text none.  Appending costs time in
// proportion to what is appended, never to what is already there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TTextArea {
public:
    // A view (a widget, a test) that wants to follow the content.
    class TListener {
    public:
        virtual ~TListener() = default;
        virtual void TextReset() = 0;                         // the whole text was replaced
        virtual void TextAppended(std::size_t firstLine) = 0; // lines from firstLine on changed
    };

    const std::string& Text() const { return Text_; }
    void SetText(std::string text);
    void Clear() { SetText({}); }
    void Append(std::string_view piece);
    // Appends `line` as a line of its own: CR LF first when the text is not empty and does
    // not already end with CR LF, and CR LF after it.
    void AppendLine(std::string_view line);
    bool Empty() const { return Text_.empty(); }
    bool EndsWithCrLf() const;

    std::size_t LineCount() const { return LineStarts.size(); }
    std::string_view Line(std::size_t index) const;

    void SetListener(TListener* listener) { Listener = listener; }

private:
    void IndexFrom(std::size_t position);

    std::string Text_;
    // Start offset of every line; a line runs to its break or to the end of the text.
    std::vector<std::size_t> LineStarts;
    TListener* Listener = nullptr;
};
