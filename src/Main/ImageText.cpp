#include "ImageText.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr char Blank = 'F';

} // namespace

TImageText& TImageText::operator=(std::string_view text) {
    AssignBlank(text.size());
    Write(0, text);
    return *this;
}

void TImageText::clear() {
    Size = 0;
    Pages.clear();
}

void TImageText::AssignBlank(std::size_t size) {
    Size = size;
    Pages.assign((size + PageChars - 1) / PageChars, nullptr);
}

void TImageText::Read(std::size_t pos, std::size_t count, char* out) const {
    while (count > 0) {
        const std::size_t index = pos / PageChars;
        const std::size_t offset = pos % PageChars;
        const std::size_t n = std::min(count, PageChars - offset);
        if (const auto& page = Pages[index]) {
            std::memcpy(out, page->data() + offset, n);
        } else {
            std::memset(out, Blank, n);
        }
        out += n;
        pos += n;
        count -= n;
    }
}

std::string TImageText::substr(std::size_t pos, std::size_t count) const {
    if (pos > Size) {
        throw std::out_of_range("TImageText::substr");
    }
    count = std::min(count, Size - pos);
    std::string out(count, '\0');
    Read(pos, count, out.data());
    return out;
}

int TImageText::compare(std::size_t pos, std::size_t count, std::string_view other) const {
    return std::string_view(substr(pos, count)).compare(other);
}

void TImageText::Write(std::size_t pos, std::string_view chars) {
    const char* in = chars.data();
    std::size_t count = chars.size();
    while (count > 0) {
        const std::size_t index = pos / PageChars;
        const std::size_t offset = pos % PageChars;
        const std::size_t n = std::min(count, PageChars - offset);
        std::memcpy(WritablePage(index).data() + offset, in, n);
        in += n;
        pos += n;
        count -= n;
    }
}

TImageText::TPage& TImageText::WritablePage(std::size_t index) {
    std::shared_ptr<TPage>& page = Pages[index];
    if (!page) {
        page = std::make_shared<TPage>();
        page->fill(Blank);
    } else if (page.use_count() > 1) {
        page = std::make_shared<TPage>(*page); // another copy still reads the old one
    }
    return *page;
}

bool TImageText::operator==(std::string_view other) const {
    return Size == other.size() && compare(0, Size, other) == 0;
}

bool TImageText::operator==(const TImageText& other) const {
    if (Size != other.Size) {
        return false;
    }
    TPage mine;
    TPage theirs;
    for (std::size_t pos = 0; pos < Size; pos += PageChars) {
        const std::size_t index = pos / PageChars;
        if (Pages[index] == other.Pages[index]) {
            continue; // shared, or both blank
        }
        const std::size_t n = std::min(PageChars, Size - pos);
        Read(pos, n, mine.data());
        other.Read(pos, n, theirs.data());
        if (std::memcmp(mine.data(), theirs.data(), n) != 0) {
            return false;
        }
    }
    return true;
}

std::size_t TImageText::StoredPages() const {
    return static_cast<std::size_t>(
        std::count_if(Pages.begin(), Pages.end(), [](const auto& p) { return p != nullptr; }));
}
