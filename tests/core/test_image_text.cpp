// The image's paged text: blank pages read 'F', writes cross page borders, copies share
// pages until one of them writes.
#include <gtest/gtest.h>

#include <string>

#include "ImageText.h"

namespace {

constexpr std::size_t Page = TImageText::PageChars;

} // namespace

TEST(ImageText, BlankReadsFAndWritesLandAcrossPages) {
    TImageText image;
    image.AssignBlank(3 * Page + 10);
    EXPECT_EQ(image.size(), 3 * Page + 10);
    EXPECT_EQ(image.StoredPages(), 0u);
    EXPECT_TRUE(image == std::string(3 * Page + 10, 'F'));

    const std::string data = "0123456789ABCDEF";
    image.Write(2 * Page - 6, data); // across the second and third page
    EXPECT_EQ(image.StoredPages(), 2u);
    EXPECT_EQ(image.substr(2 * Page - 8, 20), "FF" + data + "FF");
    EXPECT_EQ(image.compare(2 * Page - 6, data.size(), data), 0);
    EXPECT_LT(image.compare(2 * Page - 6, data.size(), "1"), 0);
    image.Write(3 * Page + 8, "AB"); // the short last page
    EXPECT_EQ(image.substr(3 * Page + 6), "FFAB");
    EXPECT_THROW(image.substr(3 * Page + 11), std::out_of_range);

    std::string expected(3 * Page + 10, 'F');
    expected.replace(2 * Page - 6, data.size(), data);
    expected.replace(3 * Page + 8, 2, "AB");
    EXPECT_TRUE(image == expected);
    EXPECT_EQ(TImageText(expected).substr(0), expected);
}

TEST(ImageText, CopiesShareUntilOneWrites) {
    TImageText first;
    first.AssignBlank(2 * Page);
    first.Write(0, "11");
    TImageText second = first;
    EXPECT_TRUE(second == first);
    second.Write(1, "2");
    second.Write(Page, "33");
    EXPECT_EQ(first.substr(0, 2), "11");
    EXPECT_EQ(first.substr(Page, 2), "FF");
    EXPECT_EQ(second.substr(0, 2), "12");
    EXPECT_EQ(second.substr(Page, 2), "33");
    EXPECT_FALSE(second == first);
    second.Write(1, "1");
    second.Write(Page, "FF");
    EXPECT_TRUE(second == first); // equal characters, whether stored or blank

    first.clear();
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(second.substr(0, 2), "11");
}
