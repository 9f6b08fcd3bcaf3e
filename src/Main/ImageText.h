// The flash image's text: two hexadecimal characters per byte, kept in pages.
//
// A page that nothing has been written into holds no memory and reads 'F' (erased flash),
// so a 40,000,000-character image costs only the pages its records touch.  Copies share
// their pages until one of them writes, so several front ends (one per port) can read one
// prepared image at the cost of a page table each.  Reading the same object from several
// threads at once is safe; writing is not.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TImageText {
public:
    static constexpr std::size_t PageChars = 65536;

    TImageText() = default;
    // The characters of `text`, stored as written characters.
    explicit TImageText(std::string_view text) { *this = text; }
    TImageText& operator=(std::string_view text);

    std::size_t size() const { return Size; }
    bool empty() const { return Size == 0; }
    void clear();
    // `size` characters that all read 'F', holding no page.
    void AssignBlank(std::size_t size);

    // Copies characters [pos, pos + count) to `out`; the range must lie inside the text.
    void Read(std::size_t pos, std::size_t count, char* out) const;
    // As std::string::substr: `count` is cut at the end; pos beyond size() throws.
    std::string substr(std::size_t pos, std::size_t count = std::string::npos) const;
    // As std::string::compare on the characters [pos, pos + count).
    int compare(std::size_t pos, std::size_t count, std::string_view other) const;
    // Overwrites characters from `pos`; the range must lie inside the text.
    void Write(std::size_t pos, std::string_view chars);

    bool operator==(std::string_view other) const;
    bool operator==(const TImageText& other) const;

    // Pages that hold memory: the image's cost beyond its page table.
    std::size_t StoredPages() const;

private:
    using TPage = std::array<char, PageChars>;
    // A page this object may write, unshared and filled.
    TPage& WritablePage(std::size_t index);

    std::size_t Size = 0;
    std::vector<std::shared_ptr<TPage>> Pages; // null: every character 'F'
};
