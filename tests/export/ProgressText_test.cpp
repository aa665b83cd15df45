// The texts of the progress window, checked without a window.
#include "export/core/ProgressText.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kStart = 1'000'000'000; // any origin

TEST(ProgressTextTest, ExportExampleAfterTenSeconds) {
    ProgressTexts t;
    t.Initialize(1, 0, "C:\\up.asc", 1000, 0, kStart);
    EXPECT_EQ(t.Caption, "Export Progress");
    EXPECT_EQ(t.FileText, "C:\\up.asc");
    EXPECT_EQ(t.RecordsText, "0 of 1000");
    EXPECT_EQ(t.BytesText, "0K written");
    EXPECT_EQ(t.TimeText, "00:00:00 remaining");
    EXPECT_EQ(t.PercentText, "0%");
    EXPECT_EQ(t.BarMaximum, 1000);

    t.UpdateProgress(250, 20480, kStart + 10'000);
    EXPECT_EQ(t.RecordsText, "250 of 1000 records");
    EXPECT_EQ(t.BytesText, "20.0K written (2.0K/s)");
    EXPECT_EQ(t.PercentText, "25%");
    EXPECT_EQ(t.TimeText, "00:00:30 remaining");
    EXPECT_EQ(t.BarPosition, 250);
}

TEST(ProgressTextTest, ImportModeAndByteBasis) {
    ProgressTexts t;
    t.Initialize(0, 1, "in.txt", 0, 2'048'000, kStart);
    EXPECT_EQ(t.Caption, "Import Progress");
    EXPECT_EQ(t.BytesText, "0K of 2,000.0K read");
    EXPECT_EQ(t.BarMaximum, 2'048'000);
    t.UpdateProgress(10, 512'000, kStart + 4'000);
    EXPECT_EQ(t.RecordsText, "10 records");
    EXPECT_EQ(t.BytesText, "500.0K of 2,000.0K read (125.0K/s)");
    EXPECT_EQ(t.PercentText, "25%");
    EXPECT_EQ(t.TimeText, "00:00:12 remaining");
}

TEST(ProgressTextTest, ElapsedTimeRules) {
    struct Case {
        const char* name;
        int64_t elapsedMs;
        int64_t done; // of 1000 records
        int64_t bytes;
        int64_t seconds;
        const char* bytesText;
        const char* timeText;
    } cases[] = {
        {"first second counts as one", 300, 10, 5120, 1, "5.0K written (5.0K/s)",
         "00:00:29 remaining"},
        {"nothing done yet", 5'000, 0, 0, 5, "0.0K written (0.0K/s)", "00:00:00 remaining"},
        {"25 hours remaining shows the hours of the day", 10'000'000, 100, 1024, 10000,
         "1.0K written (0.0K/s)", "01:00:00 remaining"},
        {"whole days of elapsed time are dropped", 86'400'000 + 2'000, 500, 2048, 2,
         "2.0K written (1.0K/s)", "00:00:02 remaining"},
    };
    for (const Case& c : cases) {
        ProgressTexts t;
        t.Initialize(1, 0, "f", 1000, 0, kStart);
        t.UpdateProgress(c.done, c.bytes, kStart + c.elapsedMs);
        EXPECT_EQ(t.ElapsedSeconds, c.seconds) << c.name;
        EXPECT_EQ(t.BytesText, c.bytesText) << c.name;
        EXPECT_EQ(t.TimeText, c.timeText) << c.name;
    }
}

TEST(ProgressTextTest, NumberFormats) {
    struct Case {
        double value;
        const char* expected;
    } cases[] = {{0, "0.0"},
                 {0.04, "0.0"},
                 {0.05, "0.1"},
                 {999.96, "1,000.0"},
                 {1234567.89, "1,234,567.9"},
                 {12.34, "12.3"}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatKilobytes(c.value), c.expected) << c.value;
    EXPECT_EQ(FormatKilobytes(1234.5, '.', ','), "1.234,5");
    EXPECT_EQ(FormatWholeNumber(33.333), "33");
    EXPECT_EQ(FormatWholeNumber(66.5), "67");
    EXPECT_EQ(FormatTimeOfDay(25LL * 3600 * 1000), "01:00:00");
    EXPECT_EQ(FormatTimeOfDay(59'999), "00:00:59");
}

TEST(ProgressTextTest, ZeroTotalShowsNothingDone) {
    ProgressTexts t;
    t.Initialize(1, 0, "f", 0, 0, kStart);
    t.UpdateProgress(0, 0, kStart + 1000);
    EXPECT_EQ(t.PercentText, "0%");
    EXPECT_EQ(t.TimeText, "00:00:00 remaining");
}

} // namespace
