// Number text: field writes and reads, STR(), VAL(), index keys and table
// copies agree on one text for a number, whatever the process locale. The
// same cases run a second time in a program with a German locale in force
// (tests/locale).
#include "support/Files.h"

#include "data/AdsTable.h"
#include "data/NumberText.h"
#include "data/expr.h"
#include "data/ntx.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using testsupport::TempDir;

namespace {

// The value of a literal, read without the C library (which follows the locale).
double literal(const std::string& text) {
    double v = 0;
    const char* first = text.data() + (text[0] == '-' ? 1 : 0);
    auto r = std::from_chars(first, text.data() + text.size(), v);
    EXPECT_EQ(r.ptr, text.data() + text.size()) << text;
    return text[0] == '-' ? -v : v;
}

struct FormatCase {
    const char* literal; // the value as an expression literal
    int width, decimals;
    const char* stored; // the field's bytes
};

// Half away from zero on the decimal text: 2.675 and 1.005 are stored as
// binary values just below, yet round up as written.
const std::vector<FormatCase> kFormatCases = {
    {"2.675", 8, 2, "    2.68"},
    {"0.125", 8, 2, "    0.13"},
    {"-0.125", 8, 2, "   -0.13"},
    {"1.005", 6, 2, "  1.01"},
    {"12.5", 8, 2, "   12.50"},
    {"0.5", 3, 0, "  1"},
    {"-2.5", 4, 0, "  -3"},
    {"2.4999", 4, 0, "   2"},
    {"0", 4, 0, "   0"},
    {"-0.001", 6, 2, "  0.00"}, // no "-0.00"
    {"42", 6, 0, "    42"},
    {"-42", 3, 0, "-42"},
    {"42", 7, 3, " 42.000"},
    {"123.456", 10, 5, " 123.45600"},
    {"0.1", 4, 1, " 0.1"},
    {"99.995", 6, 2, "100.00"},
    {"999999.5", 6, 0, "******"}, // rounds to seven digits
    {"99999.995", 8, 2, "********"},
    {"1234567", 5, 0, "*****"},
    {"-1234", 4, 0, "****"},
    {"123456789012345678", 18, 0, "123456789012345680"}, // beyond 2^53: the double's digits
    {"12345678901", 10, 0, "**********"},
};

TEST(NumberText, FormatsFieldTextHalfAwayFromZero) {
    for (const auto& c : kFormatCases) {
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(xbase::formatNumberField(literal(c.literal), c.width, c.decimals), c.stored);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(xbase::formatNumberField(nan, 5, 1), "*****");
    EXPECT_EQ(xbase::formatNumberField(-inf, 5, 0), "*****");
}

struct ParseCase {
    const char* text;
    bool ok;
    double value;
};

TEST(NumberText, ReadsWholeTextsOnly) {
    const std::vector<ParseCase> cases = {
        {"12.50", true, 12.5},
        {"   12.50", true, 12.5},
        {"-3.25 ", true, -3.25},
        {"+7", true, 7},
        {".5", true, 0.5},
        {"5.", true, 5},
        {"007", true, 7},
        {"1.5E3", true, 1500},
        {"12345678901234567890", true, 12345678901234567890.0},
        {"0.1234567890123456789", true, 0.1234567890123456789},
        {"", false, 0},
        {"    ", false, 0},
        {"12,50", false, 0},
        {"1 2", false, 0},
        {"-", false, 0},
        {".", false, 0},
        {"+-5", false, 0},
        {"*****", false, 0},
        {"abc", false, 0},
        {"inf", false, 0},
        {"1e999", false, 0},
        {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double v = -1;
        EXPECT_EQ(xbase::parseNumberText(c.text, v), c.ok);
        EXPECT_EQ(v, c.value);
    }
}

TEST(NumberText, ValReadsTheLeadingNumber) {
    const std::vector<std::pair<const char*, double>> cases = {
        {"  12.50abc", 12.5}, {"-3.5-2", -3.5}, {"12,50", 12}, {"abc", 0}, {"", 0},
        {" .25", 0.25},       {"1e3", 1}, // no exponent in VAL
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(xbase::readNumberPrefix(text, std::strlen(text)), value);
    }
}

// A table with one numeric field per width and decimals of the cases.
struct NumberTable {
    NumberTable(const TempDir& tmp, int width, int decimals, const std::string& name = "NUMBERS") {
        TAdsTable::AdsCreateTable(tmp.dir() + name + ".dbf", ttAdsCDX, ANSI, 0,
                                  "AMOUNT,N," + std::to_string(width) + "," +
                                      std::to_string(decimals) + ";");
        t.DatabaseName = tmp.dir();
        t.TableType = ttAdsCDX;
        t.SetTableName(name);
        t.Exclusive = true;
        t.Open();
    }
    std::string stored() { return std::string(t.File().record(t.RecNo()) + 1, width()); }
    int width() { return t.FieldByName("AMOUNT").Size(); }
    TAdsTable t;
};

TEST(NumberText, FieldWritesReadsStrAndKeysAgree) {
    TempDir tmp;
    int n = 0;
    for (const auto& c : kFormatCases) {
        SCOPED_TRACE(c.literal);
        NumberTable tab(tmp, c.width, c.decimals, "T" + std::to_string(n++));
        TField& f = tab.t.FieldByName("AMOUNT");
        tab.t.Append();
        f.SetAsFloat(literal(c.literal));
        tab.t.Post();
        EXPECT_EQ(tab.stored(), c.stored);

        // STR() of the same value with the field's width and decimals.
        auto str = xbase::Expression::compile("STR(" + std::string(c.literal) + ", " +
                                                  std::to_string(c.width) + ", " +
                                                  std::to_string(c.decimals) + ")",
                                              tab.t.FieldDefs(), tab.t.CodePage());
        EXPECT_EQ(str.evaluate(xbase::RecordView{tab.t.File().record(1), 1}).str, c.stored);

        const std::string text = c.stored;
        const bool overflow = text.find('*') != std::string::npos;
        double expected = 0;
        if (!overflow) expected = literal(text.substr(text.find_first_not_of(' ')));
        // Reading back: the text without its blanks, the value it shows.
        EXPECT_EQ(f.AsString(), overflow ? "" : text.substr(text.find_first_not_of(' ')));
        EXPECT_EQ(f.AsFloat(), expected);
        EXPECT_EQ(f.AsInteger(), static_cast<int64_t>(std::llround(expected)));
        // VAL() of the field reads the same value.
        auto val =
            xbase::Expression::compile("VAL(STR(AMOUNT))", tab.t.FieldDefs(), tab.t.CodePage());
        EXPECT_EQ(val.evaluate(xbase::RecordView{tab.t.File().record(1), 1}).num, expected);

        // An NTX key is the same text with zeros for the leading blanks.
        if (!overflow && expected >= 0) {
            std::string key = text;
            for (char& ch : key)
                if (ch == ' ') ch = '0';
            EXPECT_EQ(xbase::ntxKey(xbase::Value::numeric(literal(c.literal)),
                                    static_cast<uint16_t>(c.width),
                                    static_cast<uint16_t>(c.decimals)),
                      key);
        }
    }
}

TEST(NumberText, FieldTextInBothDirections) {
    TempDir tmp;
    NumberTable tab(tmp, 8, 2);
    TField& f = tab.t.FieldByName("AMOUNT");
    struct Case {
        const char* written;
        const char* stored;
        const char* read;
        double value;
    };
    const std::vector<Case> cases = {
        {"12.50", "   12.50", "12.50", 12.5},
        {" 2.675", "    2.68", "2.68", 2.68},
        {"-7", "   -7.00", "-7.00", -7},
        {"1.5E2", "  150.00", "150.00", 150},
        {"", "        ", "", 0},
        {"   ", "        ", "", 0},
        {"123456.789", "********", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        tab.t.Append();
        f.SetAsString(c.written);
        tab.t.Post();
        EXPECT_EQ(tab.stored(), c.stored);
        EXPECT_EQ(f.AsString(), c.read);
        EXPECT_EQ(f.AsFloat(), c.value);
        EXPECT_EQ(f.IsNull(), std::string(c.written).find_first_not_of(' ') == std::string::npos);
    }
    // Text that is no number is refused and leaves the record as it was.
    tab.t.Edit();
    EXPECT_THROW(f.SetAsString("12,50"), EADSDatabaseError);
    EXPECT_THROW(f.SetAsString("abc"), EADSDatabaseError);
    tab.t.Cancel();
    EXPECT_EQ(tab.stored(), "********");
}

TEST(NumberText, CopiesRoundIntoNarrowerFields) {
    TempDir tmp;
    NumberTable source(tmp, 10, 3, "SOURCE");
    NumberTable target(tmp, 8, 2, "TARGET");
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"2.675", "    2.68"}, {"0.125", "    0.13"},      {"-0.125", "   -0.13"},
        {"12.5", "   12.50"},  {"123456.789", "********"}, {"", "        "},
    };
    for (const auto& [written, copied] : cases) {
        source.t.Append();
        source.t.FieldByName("AMOUNT").SetAsString(written);
        source.t.Post();
    }
    source.t.AdsCopyTableContents(target.t);
    ASSERT_EQ(target.t.File().recordCount(), cases.size());
    for (uint32_t r = 1; r <= cases.size(); ++r) {
        SCOPED_TRACE(cases[r - 1].first);
        EXPECT_EQ(std::string(target.t.File().record(r) + 1, 8), cases[r - 1].second);
    }
}

TEST(NumberText, FindKeyReadsNumberText) {
    TempDir tmp;
    NumberTable tab(tmp, 8, 2);
    for (const char* v : {"3.50", "12.50", "-1.25"}) {
        tab.t.Append();
        tab.t.FieldByName("AMOUNT").SetAsString(v);
        tab.t.Post();
    }
    tab.t.AdsCreateIndex61("", "AMOUNT", "AMOUNT", "", "", ADS_DEFAULT);
    tab.t.SetIndexName("AMOUNT");
    ASSERT_TRUE(tab.t.FindKey(std::string_view("12.50")));
    EXPECT_EQ(tab.t.RecNo(), 2u);
    ASSERT_TRUE(tab.t.FindKey(std::string_view("-1.25")));
    EXPECT_EQ(tab.t.RecNo(), 3u);
    EXPECT_FALSE(tab.t.FindKey(std::string_view("12,50")));
}

} // namespace
