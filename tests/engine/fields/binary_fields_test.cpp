// Fields stored in binary (Visual FoxPro's I, Y, B, T): the decoders on their
// own, then a table written by an independent engine read through its fields
// and through expressions, which must agree with each other and with the
// values the engine wrote.
#include "data/AdsTable.h"
#include "data/FieldForm.h"
#include "data/NumberText.h"
#include "data/expr.h"
#include "support/Files.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using xbase::FieldForm;

std::string le32(uint32_t v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>(v >> (8 * i));
    return b;
}
std::string le64(uint64_t v) {
    return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32));
}
// The value of a manifest's number (subnormal ones included, which std::stod refuses).
double number(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

std::string leDouble(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    return le64(u);
}

TEST(FieldForms, TypeLetterLengthAndVersionByte) {
    struct Case {
        char type;
        uint16_t length;
        uint8_t version;
        FieldForm form;
    } cases[] = {
        {'C', 10, 0x03, FieldForm::Text},    {'N', 8, 0x30, FieldForm::Text},
        {'I', 4, 0x30, FieldForm::Integer},  {'I', 4, 0x03, FieldForm::Integer},
        {'+', 4, 0x03, FieldForm::Integer},  {'I', 2, 0x30, FieldForm::NotRead},
        {'Y', 8, 0x30, FieldForm::Currency}, {'Y', 4, 0x30, FieldForm::NotRead},
        {'B', 8, 0x30, FieldForm::Double},   {'B', 8, 0x31, FieldForm::Double},
        {'B', 8, 0x32, FieldForm::Double},   {'B', 10, 0x03, FieldForm::NotRead},
        {'B', 10, 0x8B, FieldForm::NotRead}, {'B', 8, 0xF5, FieldForm::NotRead},
        {'T', 8, 0x30, FieldForm::DateTime}, {'M', 4, 0x30, FieldForm::NotRead},
        {'M', 10, 0x83, FieldForm::NotRead}, {'G', 10, 0xF5, FieldForm::NotRead},
        {'O', 8, 0x03, FieldForm::NotRead},  {'@', 8, 0x03, FieldForm::NotRead},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xbase::fieldFormOf(c.type, c.length, c.version), c.form)
            << c.type << c.length << " in a table of version " << int(c.version);
}

TEST(FieldForms, BinaryNumbersAndTheirText) {
    constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        FieldForm form;
        std::string bytes;
        int decimals;
        double value;
        const char* text;
    } cases[] = {
        {FieldForm::Integer, le32(42), 0, 42, "42"},
        {FieldForm::Integer, le32(0xFFFFFFF9u), 0, -7, "-7"},
        {FieldForm::Integer, le32(0x80000000u), 0, -2147483648.0, "-2147483648"},
        {FieldForm::Currency, le64(123456), 0, 12.3456, "12.3456"},
        {FieldForm::Currency, le64(uint64_t(-1)), 0, -0.0001, "-0.0001"},
        {FieldForm::Currency, le64(0), 0, 0, "0.0000"},
        {FieldForm::Currency, le64(uint64_t(1) << 63), 0, -922337203685477.5808,
         "-922337203685477.5808"}, // exactly, where a double would round
        {FieldForm::Double, leDouble(1.5), 0, 1.5, "1.5"},
        {FieldForm::Double, leDouble(0.1), 0, 0.1, "0.1"},
        {FieldForm::Double, leDouble(-2.25e10), 0, -2.25e10, "-22500000000"},
        {FieldForm::Double, leDouble(-0.0), 0, 0, "0"},
        {FieldForm::Double, leDouble(2.675), 2, 2.675, "2.68"}, // as a numeric field stores it
        {FieldForm::Double, leDouble(kNoValue), 0, kNoValue, ""},
        {FieldForm::Text, "      42", 0, 0, ""}, // not a binary number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const double value = xbase::binaryNumber(c.form, c.bytes.data());
        if (std::isnan(c.value))
            EXPECT_TRUE(std::isnan(value));
        else
            EXPECT_EQ(value, c.value);
        EXPECT_EQ(xbase::binaryNumberText(c.form, c.bytes.data(), c.decimals), c.text);
    }
}

TEST(FieldForms, DateTimes) {
    struct Case {
        std::string bytes;
        const char* yyyymmdd; // "" when empty
        uint32_t milliseconds;
        const char* text;
    } cases[] = {
        {le32(2453994) + le32(49530000), "20060915", 49530000, "09/15/2006 13:45:30"},
        {le32(2415019) + le32(0), "18991230", 0, "12/30/1899 00:00:00"}, // day zero
        {le32(1721426) + le32(86399999), "00010101", 86399999, "01/01/0001 23:59:59"},
        {le32(5373484) + le32(0), "99991231", 0, "12/31/9999 00:00:00"},
        {le64(0), "", 0, ""},                        // empty
        {std::string(8, ' '), "", 0, ""},            // blanks, as some engines leave it
        {le32(5373485) + le32(0), "", 0, ""},        // after 9999
        {le32(2453994) + le32(86400000), "", 0, ""}, // a day and more
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const xbase::BinaryDateTime moment = xbase::binaryDateTime(c.bytes.data());
        EXPECT_EQ(moment.empty, std::string(c.yyyymmdd).empty());
        if (!moment.empty) {
            EXPECT_EQ(kes::Date(moment.day).toYyyymmdd(), c.yyyymmdd);
            EXPECT_EQ(moment.milliseconds, c.milliseconds);
        }
        EXPECT_EQ(xbase::binaryDateTimeText(c.bytes.data()), c.text);
    }
}

// BINARY.DBF was written by an independent engine; binary.records.csv holds
// every record as a second independent reader reads it (see the generator
// beside them).
class WrittenElsewhere : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.copy("formats/vfp/BINARY.DBF");
        dir_.copy("formats/vfp/BINARY.FPT");
        table_.DatabaseName = dir_.dir();
        table_.TableType = ttAdsNTX;
        table_.SetTableName("BINARY");
        table_.Open();
        manifest_ =
            testsupport::readCsvTable(testsupport::fixture("formats/vfp/binary.records.csv"));
    }

    const std::string& cell(size_t row, const std::string& column) const {
        for (size_t i = 0; i < manifest_.header.size(); ++i)
            if (manifest_.header[i] == column) return manifest_.rows[row][i];
        throw std::logic_error("no column " + column);
    }

    xbase::Value evaluate(const std::string& expression, uint32_t recno) {
        return xbase::Expression::compile(expression, table_.FieldDefs(), table_.CodePage())
            .evaluate(xbase::RecordView{table_.File().record(recno), recno});
    }

    testsupport::TempDir dir_;
    TAdsTable table_;
    testsupport::CsvTable manifest_;
};

TEST_F(WrittenElsewhere, FieldsAndExpressionsReadTheValuesWritten) {
    EXPECT_EQ(table_.File().version(), 0x30);
    ASSERT_EQ(table_.File().recordCount(), manifest_.rows.size());
    for (size_t row = 0; row < manifest_.rows.size(); ++row) {
        const uint32_t recno = static_cast<uint32_t>(row + 1);
        SCOPED_TRACE("record " + std::to_string(recno));
        table_.GotoBookmark(TBookmark{recno});

        // Whole numbers, currency, doubles: the text the other reader shows,
        // the value it stands for, and the same value through an expression.
        for (const char* name : {"COUNT", "PRICE", "RATIO"}) {
            SCOPED_TRACE(name);
            const TField& field = table_.FieldByName(name);
            const std::string& expected = cell(row, name);
            EXPECT_EQ(field.AsString(), expected);
            EXPECT_DOUBLE_EQ(field.AsFloat(), number(expected));
            EXPECT_EQ(field.AsInteger(), std::llround(field.AsFloat()));
            EXPECT_FALSE(field.IsNull());
            const xbase::Value value = evaluate(name, recno);
            EXPECT_EQ(value.type, xbase::ValueType::Numeric);
            EXPECT_EQ(value.num, field.AsFloat()); // one decoder, one value
            EXPECT_EQ(field.AsValue().num, field.AsFloat());
        }
        EXPECT_EQ(table_.FieldByName("COUNT").AsInteger(), std::stoll(cell(row, "COUNT")));
        // Arithmetic sees the values too.
        EXPECT_DOUBLE_EQ(evaluate("COUNT * 2 + PRICE", recno).num,
                         number(cell(row, "COUNT")) * 2 + number(cell(row, "PRICE")));

        // Datetimes: their day as dates read, their text with the time.
        const TField& stamp = table_.FieldByName("STAMP");
        const std::string& moment = cell(row, "STAMP"); // yyyy-mm-dd hh:mm:ss.mmm
        EXPECT_EQ(stamp.IsNull(), moment.empty());
        if (moment.empty()) {
            EXPECT_EQ(stamp.AsString(), "");
        } else {
            const std::string day = moment.substr(0, 4) + moment.substr(5, 2) + moment.substr(8, 2);
            EXPECT_EQ(stamp.AsDateTime().toYyyymmdd(), day);
            EXPECT_EQ(stamp.AsString(), moment.substr(5, 2) + "/" + moment.substr(8, 2) + "/" +
                                            moment.substr(0, 4) + " " + moment.substr(11, 8));
        }

        // The text fields around them keep their places.
        EXPECT_EQ(table_.FieldByName("NAME").AsString(), cell(row, "NAME"));
        EXPECT_EQ(table_.FieldByName("WHEN").AsDateTime().toYyyymmdd(),
                  cell(row, "WHEN").empty() ? "18991230" : cell(row, "WHEN"));
        EXPECT_EQ(table_.FieldByName("AMOUNT").AsString(), cell(row, "AMOUNT"));
        EXPECT_EQ(table_.FieldByName("NOTES").AsString(), ""); // memo contents are not read
    }
}

// A copy into a table of text, numeric and date fields takes the values the
// fields read, converted as the target asks.
TEST_F(WrittenElsewhere, ACopyConvertsThroughTheSameReading) {
    TAdsTable::AdsCreateTable(dir_.file("COPY.DBF"), ttAdsNTX, OEM, 0,
                              "COUNT,N,12,0;PRICE,C,22,0;RATIO,N,14,2;STAMP,D,8,0;NAME,C,10,0;");
    TAdsTable copy;
    copy.DatabaseName = dir_.dir();
    copy.TableType = ttAdsNTX;
    copy.Exclusive = true;
    copy.SetTableName("COPY");
    copy.Open();
    table_.AdsCopyTableContents(copy);
    ASSERT_EQ(copy.File().recordCount(), manifest_.rows.size());
    for (size_t row = 0; row < manifest_.rows.size(); ++row) {
        const uint32_t recno = static_cast<uint32_t>(row + 1);
        SCOPED_TRACE("record " + std::to_string(recno));
        copy.GotoBookmark(TBookmark{recno});
        table_.GotoBookmark(TBookmark{recno});
        EXPECT_EQ(copy.FieldByName("COUNT").AsString(), cell(row, "COUNT"));
        EXPECT_EQ(copy.FieldByName("PRICE").AsString(), cell(row, "PRICE"));
        const double ratio = table_.FieldByName("RATIO").AsFloat();
        if (std::fabs(ratio) < 1e10) { // else too wide for the field: asterisks, read as blank
            EXPECT_EQ(copy.FieldByName("RATIO").AsString(), xbase::numberText(ratio, 2));
        }
        EXPECT_EQ(copy.FieldByName("STAMP").AsDateTime(), table_.FieldByName("STAMP").AsDateTime());
        EXPECT_EQ(copy.FieldByName("STAMP").IsNull(), cell(row, "STAMP").empty());
    }
}

TEST_F(WrittenElsewhere, TypesAndWhatExpressionsCannotUse) {
    struct Case {
        const char* field;
        TFieldType type;
        bool inExpressions;
    } cases[] = {
        {"COUNT", ftInteger, true},   {"PRICE", ftFloat, true}, {"RATIO", ftFloat, true},
        {"STAMP", ftDateTime, false}, {"NOTES", ftMemo, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(table_.FieldByName(c.field).DataType(), c.type);
        try {
            xbase::Expression::compile(c.field, table_.FieldDefs(), table_.CodePage());
            EXPECT_TRUE(c.inExpressions);
        } catch (const EADSDatabaseError& e) {
            EXPECT_FALSE(c.inExpressions) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
        }
    }
}

} // namespace
