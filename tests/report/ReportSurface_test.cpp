// The tab-stop page: where a text lands in its stop, how it is cut, how lines
// and stops advance, and the numbered sets of stops.
#include "report_support.h"

#include <gtest/gtest.h>

#include <stdexcept>

using kes::ReportSurface;
using kes::TabAlign;
using reporttest::RecordingSurface;

namespace {

TEST(ReportSurfaceTest, StopsFollowOneAnotherAndPlaceTextByAlignmentAndMargin) {
    RecordingSurface page;
    page.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 2.0, 5); // at the left margin
    page.SetTab(ReportSurface::kAfterPrevious, TabAlign::Right, 1.0, 5);
    page.SetTab(4.0, TabAlign::Left, 1.0, 0);
    ASSERT_EQ(page.Tabs().size(), 3u);
    EXPECT_DOUBLE_EQ(page.Tabs()[0].start, 0.5);
    EXPECT_DOUBLE_EQ(page.Tabs()[1].start, 2.5);
    EXPECT_DOUBLE_EQ(page.Tabs()[2].start, 4.0);

    page.PrintTab("abc");
    page.PrintTab("abc");
    page.PrintTab("abc");
    ASSERT_EQ(page.placed.size(), 3u);
    EXPECT_DOUBLE_EQ(page.placed[0].x, 0.55);              // start + margin
    EXPECT_DOUBLE_EQ(page.placed[1].x, 3.5 - 0.05 - 0.21); // end - margin - text width
    EXPECT_DOUBLE_EQ(page.placed[2].x, 4.0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(page.placed[i].line, 1);
        EXPECT_EQ(page.placed[i].stop, i + 1);
        EXPECT_DOUBLE_EQ(page.placed[i].top, 0.5);
    }
    EXPECT_EQ(page.placed[1].align, TabAlign::Right);
}

TEST(ReportSurfaceTest, TextIsCutToTheStopLessBothMarginsInWholeCharacters) {
    // A 1-inch stop with 0.05 inch on either side holds 0.9 inch: 12 characters of 0.07.
    struct Case {
        std::string text, shown;
    };
    const Case cases[] = {
        {"ABCDEFGHIJKL", "ABCDEFGHIJKL"},
        {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKL"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "\xC3\xA9\xC3\xA9",
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"
         "\xC3\xA9"},
        {"", ""},
    };
    for (TabAlign align : {TabAlign::Left, TabAlign::Right}) {
        for (const Case& c : cases) {
            RecordingSurface page;
            page.SetTab(1.0, align, 1.0, 5);
            page.PrintTab(c.text);
            ASSERT_EQ(page.placed.size(), 1u);
            EXPECT_EQ(page.placed[0].text, c.shown) << c.text;
            // A right-aligned cut text still ends at the stop's inner edge.
            if (align == TabAlign::Right && !c.shown.empty()) {
                EXPECT_NEAR(page.placed[0].x + page.placed[0].width, 1.95, 1e-9);
            }
        }
    }
    RecordingSurface narrow; // margins wider than the stop leave no room at all
    narrow.SetTab(1.0, TabAlign::Left, 0.08, 5);
    narrow.PrintTab("x");
    EXPECT_EQ(narrow.placed.at(0).text, "");
}

TEST(ReportSurfaceTest, NewLineHomeAndTheLastStopMoveTheCursor) {
    RecordingSurface page;
    page.SetTab(0.5, TabAlign::Left, 1.0, 0);
    page.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 1.0, 0);
    page.PrintCenter("Title", 4.25);
    page.PrintTab("a"); // line 1, stop 1: the centred text takes no stop
    page.NewLine();
    page.PrintTab("b"); // line 2, stop 1 again
    page.PrintTab("c");
    page.PrintTab("d"); // past the last stop: line 3, stop 1
    page.NewLine();
    page.NewLine();
    page.Home();
    page.PrintTab("e"); // line 1, stop 1
    page.NewLine();
    page.PrintTab("f");

    struct Expected {
        int line, stop;
        const char* text;
    };
    const Expected expected[] = {{1, 0, "Title"}, {1, 1, "a"}, {2, 1, "b"}, {2, 2, "c"},
                                 {3, 1, "d"},     {1, 1, "e"}, {2, 1, "f"}};
    ASSERT_EQ(page.placed.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(page.placed[i].line, expected[i].line) << i;
        EXPECT_EQ(page.placed[i].stop, expected[i].stop) << i;
        EXPECT_EQ(page.placed[i].text, expected[i].text) << i;
        EXPECT_DOUBLE_EQ(page.placed[i].top, 0.5 + (expected[i].line - 1) / 6.0) << i;
    }
    EXPECT_DOUBLE_EQ(page.placed[0].x, 4.25 - 5 * 0.07 / 2);
}

TEST(ReportSurfaceTest, SetsOfStopsAreSavedAndRestoredByNumber) {
    RecordingSurface page;
    page.SetTab(0.5, TabAlign::Left, 1.0, 0);
    page.SaveTabs(1);
    page.ClearTabs();
    page.SetTab(3.0, TabAlign::Right, 2.0, 0);
    page.SetTab(ReportSurface::kAfterPrevious, TabAlign::Left, 1.0, 0);
    page.SaveTabs(10);

    page.RestoreTabs(1);
    ASSERT_EQ(page.Tabs().size(), 1u);
    EXPECT_DOUBLE_EQ(page.Tabs()[0].start, 0.5);
    page.PrintTab("x");
    page.RestoreTabs(10); // starts again at the first stop of the set
    page.PrintTab("y");
    EXPECT_EQ(page.placed.at(1).stop, 1);
    EXPECT_EQ(page.placed.at(1).align, TabAlign::Right);
    ASSERT_EQ(page.Tabs().size(), 2u);
    EXPECT_DOUBLE_EQ(page.Tabs()[1].start, 5.0);

    page.RestoreTabs(4); // never saved
    EXPECT_TRUE(page.Tabs().empty());
    EXPECT_THROW(page.PrintTab("z"), std::logic_error);
    for (int bad : {0, 11, -1}) {
        EXPECT_THROW(page.SaveTabs(bad), std::out_of_range) << bad;
        EXPECT_THROW(page.RestoreTabs(bad), std::out_of_range) << bad;
    }
}

} // namespace
