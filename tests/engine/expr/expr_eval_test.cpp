// Operators, functions and field reading of the expression engine: tables of
// (expression, expected value) evaluated against hand-built records.
#include "data/Error.h"
#include "data/expr.h"
#include "expr_support.h"

#include <gtest/gtest.h>

using namespace exprtest;
using xbase::Expression;
using xbase::RecordView;
using xbase::ValueType;

namespace {

const Layout& layout() {
    static const Layout l = [] {
        Layout t;
        t.add("NAME", 'C', 10)
            .add("CODE", 'C', 4)
            .add("AMOUNT", 'N', 8, 2)
            .add("QTY", 'N', 4)
            .add("BLANKN", 'N', 5)
            .add("BORN", 'D', 8)
            .add("NODATE", 'D', 8)
            .add("ACTIVE", 'L', 1)
            .add("FLAG", 'L', 1)
            .add("CNT", 'I', 4)
            .add("NEG", 'I', 4)
            .add("RETEST", 'C', 1)
            .add("UML", 'C', 3)
            .add("PADDED", 'C', 6)
            .add("NOTES", 'M', 10);
        return t;
    }();
    return l;
}

const std::string& baseRecord() {
    static const std::string rec = layout().record({
        {"NAME", "Smith"},
        {"CODE", "AB"},
        {"AMOUNT", "-12.50"},
        {"QTY", "42"},
        {"BORN", "20040315"},
        {"ACTIVE", "T"},
        {"FLAG", "F"},
        {"CNT", "123456"},
        {"NEG", "-7"},
        {"RETEST", "N"},
        {"UML", "\x9A\x82"}, // "Üé" in code page 437
        {"PADDED", "  ab"},
    });
    return rec;
}

struct Case {
    const char* expr;
    Expect want;
};

void runCases(const std::vector<Case>& cases, const std::string& rec = baseRecord(),
              uint32_t recno = 17) {
    for (const Case& c : cases) {
        const std::string where = std::string("expression: ") + c.expr;
        Expression e;
        try {
            e = Expression::compile(c.expr, layout().fields);
        } catch (const EADSDatabaseError& err) {
            ADD_FAILURE() << where << " did not compile: " << err.what();
            continue;
        }
        EXPECT_EQ(typeName(e.type()), std::string(typeName(c.want.type))) << where;
        const RecordView view{rec.data(), recno};
        expectValue(e.evaluate(view), c.want, where);
        if (c.want.type == ValueType::Logical) {
            EXPECT_EQ(e.test(view), c.want.logical) << where;
        }
    }
}

TEST(ExprEval, StringComparisonWithExactOff) {
    runCases({
        {"\"ABC\" = \"AB\"", L(true)},
        {"\"AB\" = \"ABC\"", L(false)},
        {"\"AB\" = \"AB\"", L(true)},
        {"NAME = \"\"", L(true)},
        {"\"\" = \"\"", L(true)},
        {"\"\" = \"A\"", L(false)},
        {"NAME = \"Smith\"", L(true)}, // the stored "Smith     " reaches past the right side
        {"NAME = \"Smith     \"", L(true)},
        {"NAME = \"Smith      \"", L(false)}, // right side longer than the field
        {"\"Smith\" = NAME", L(false)},
        {"NAME = \"Smi\"", L(true)},
        {"NAME = \"smith\"", L(false)},  // byte codes: case matters
        {"NAME == \"Smith\"", L(false)}, // exact: the field keeps its blanks
        {"NAME == \"Smith     \"", L(true)},
        {"TRIM(NAME) == \"Smith\"", L(true)},
        {"\"ABC\" == \"AB\"", L(false)},
        {"\"\" == \"\"", L(true)},
        {"NAME <> \"Jones\"", L(true)},
        {"NAME <> \"Smith\"", L(false)},
        {"NAME # \"Smith\"", L(false)},
        {"NAME != \"Smi\"", L(false)},
        {"\"AB\" <> \"ABC\"", L(true)},
        {"NAME <> \"\"", L(false)},
        {"'single' = \"single\"", L(true)},
        {"[bracket] = 'bracket'", L(true)},
        {"\"it's\" = 'it' + \"'s\"", L(true)},
    });
}

TEST(ExprEval, StringOrdering) {
    // Compared over the shorter length; equal so far counts as equal when the
    // left side is at least as long, as less when it is shorter.
    runCases({
        {"\"ABC\" > \"AB\"", L(false)},
        {"\"ABC\" >= \"AB\"", L(true)},
        {"\"ABC\" < \"AB\"", L(false)},
        {"\"ABC\" <= \"AB\"", L(true)},
        {"\"AB\" < \"ABC\"", L(true)},
        {"\"AB\" <= \"ABC\"", L(true)},
        {"\"AB\" > \"ABC\"", L(false)},
        {"\"B\" > \"ABC\"", L(true)},
        {"\"ABD\" > \"ABC\"", L(true)},
        {"\"a\" > \"Z\"", L(true)},
        {"\" \" < \"0\"", L(true)},
        {"\"\" < \"A\"", L(true)},
        {"\"A\" < \"\"", L(false)},
        {"\"A\" >= \"\"", L(true)},
        {"UML > \"z\"", L(true)}, // bytes compare unsigned: 0x9A > 'z'
        {"UML = \"Ü\"", L(true)}, // literals are converted to code page 437
        {"UML == \"Üé \"", L(true)},
        {"CODE >= \"AB\" .AND. CODE <= \"AB\"", L(true)},
    });
}

TEST(ExprEval, ContainsAndConcatenation) {
    runCases({
        {"\"mit\" $ NAME", L(true)},
        {"\"xyz\" $ NAME", L(false)},
        {"\"\" $ NAME", L(false)},
        {"\"SMITH\" $ NAME", L(false)},
        {"\"th  \" $ NAME", L(true)},
        {"NAME $ \"Smith\"", L(false)}, // "Smith     " is longer
        {"RETEST $ \"Nn\"", L(true)},
        {"NAME + CODE", C("Smith     AB  ")},
        {"NAME - CODE", C("SmithAB       ")},
        {"\"AB \" - \"C\"", C("ABC ")},
        {"\"   \" - \"C\"", C("C   ")},
        {"\"AB\" - \"\"", C("AB")},
        {"\"\" + \"\"", C("")},
        {"TRIM(NAME) + \", \" + CODE", C("Smith, AB  ")},
        {"NAME + CODE = \"Smith     AB\"", L(true)},
        {"(NAME - CODE) + \"!\"", C("SmithAB       !")},
    });
}

TEST(ExprEval, Numbers) {
    runCases({
        {"AMOUNT", N(-12.5)},
        {"QTY", N(42)},
        {"BLANKN", N(0)},
        {"CNT", N(123456)},
        {"NEG", N(-7)},
        {"42", N(42)},
        {"1.25", N(1.25)},
        {".5", N(0.5)},
        {"-QTY", N(-42)},
        {"--QTY", N(42)},
        {"+QTY", N(42)},
        {"- 3", N(-3)},
        {"QTY * 2", N(84)},
        {"QTY / 4", N(10.5)},
        {"QTY - AMOUNT", N(54.5)},
        {"QTY + AMOUNT", N(29.5)},
        {"1 + 2 * 3", N(7)},
        {"(1 + 2) * 3", N(9)},
        {"10 - 4 - 3", N(3)},
        {"12 / 3 / 2", N(2)},
        {"-2 * -3", N(6)},
        {"2 * -QTY", N(-84)},
        {"7 / 0", N(0)},
        {"AMOUNT = -12.5", L(true)},
        {"AMOUNT == -12.50", L(true)},
        {"QTY > 41.99", L(true)},
        {"QTY >= 42", L(true)},
        {"QTY < 42", L(false)},
        {"QTY <= 42", L(true)},
        {"QTY <> 42", L(false)},
        {"QTY # 41", L(true)},
        {"BLANKN = 0", L(true)},
        {"CNT + NEG = 123449", L(true)},
        {"0.1 + 0.2 > 0.3", L(true)}, // plain doubles, as xBase
    });
}

TEST(ExprEval, Dates) {
    runCases({
        {"BORN", D("20040315")},
        {"NODATE", D("")},
        {"BORN + 1", D("20040316")},
        {"1 + BORN", D("20040316")},
        {"BORN - 15", D("20040229")},
        {"BORN + 365", D("20050315")},
        {"BORN - STOD(\"20040101\")", N(74)},
        {"BORN - NODATE", N(0)},
        {"NODATE + 1", D("")},
        {"BORN > NODATE", L(true)},
        {"NODATE < BORN", L(true)},
        {"NODATE = NODATE", L(true)},
        {"NODATE <> BORN", L(true)},
        {"BORN = STOD(\"20040315\")", L(true)},
        {"BORN == STOD(\"20040315\")", L(true)},
        {"BORN >= STOD(\"20040316\")", L(false)},
        {"BORN < CTOD(\"03/16/2004\")", L(true)},
    });
}

TEST(ExprEval, Logicals) {
    runCases({
        {"ACTIVE", L(true)},
        {"FLAG", L(false)},
        {".T.", L(true)},
        {".f.", L(false)},
        {".y.", L(true)},
        {".N.", L(false)},
        {"ACTIVE = .T.", L(true)},
        {"ACTIVE == .t.", L(true)},
        {"ACTIVE <> FLAG", L(true)},
        {"ACTIVE # .T.", L(false)},
        {"ACTIVE .AND. FLAG", L(false)},
        {"ACTIVE .and. !FLAG", L(true)},
        {"ACTIVE .Or. FLAG", L(true)},
        {".NOT. ACTIVE", L(false)},
        {".not.ACTIVE", L(false)},
        {"!ACTIVE", L(false)},
        {"!!ACTIVE", L(true)},
        {".T. .OR. .F. .AND. .F.", L(true)}, // .AND. binds tighter than .OR.
        {"(.T. .OR. .F.) .AND. .F.", L(false)},
        {"!.F. .AND. .F.", L(false)}, // ! binds tighter than .AND.
        {".NOT. QTY = 42", L(false)}, // ... but looser than "="
        {"! NAME = \"Jones\"", L(true)},
        {"QTY=42.and.ACTIVE", L(true)}, // no blanks around dotted operators
        {"(QTY)>1.and.(AMOUNT)<2", L(true)},
        {"ACTIVE.and.FLAG.or.QTY=42", L(true)},
        {"1.5<QTY.AND.QTY<42.5", L(true)},
        {"active.AND.flag", L(false)},
    });
}

TEST(ExprEval, NamesInAnyCase) {
    runCases({
        {"name = 'Smith'", L(true)},
        {"Name + Code", C("Smith     AB  ")},
        {"dtos(born)", C("20040315")},
        {"DtoS(Born)", C("20040315")},
        {"upper(name)", C("SMITH     ")},
        {"field->qty", N(42)},
        {"_FIELD->QTY", N(42)},
    });
}

TEST(ExprEval, DateFunctions) {
    runCases({
        {"DTOS(BORN)", C("20040315")},
        {"DTOS(NODATE)", C("        ")},
        {"DTOS(BORN + 17)", C("20040401")}, // computed date
        {"DTOS(IIF(ACTIVE, NODATE, BORN))", C("        ")},
        {"DTOS(STOD(\"19991231\"))", C("19991231")},
        {"DTOC(BORN)", C("03/15/2004")},
        {"DTOC(NODATE)", C("  /  /    ")},
        {"DTOC(BORN - 75)", C("12/31/2003")},
        {"YEAR(BORN)", N(2004)},
        {"MONTH(BORN)", N(3)},
        {"DAY(BORN)", N(15)},
        {"YEAR(NODATE)", N(0)},
        {"STOD(\"20040229\")", D("20040229")},
        {"STOD(\"20030229\")", D("")},
        {"STOD(\"        \")", D("")},
        {"STOD(\"2004\")", D("")},
        {"CTOD(\"3/5/2004\")", D("20040305")},
        {"CTOD(\"\")", D("")},
        {"CTOD(\"13/01/2004\")", D("")},
        {"DTOS(STOD(\"00010101\"))", C("00010101")},
        {"DTOS(STOD(\"99991231\"))", C("99991231")},
        {"STOD(\"99991231\") + 1", D("")}, // past the last date: empty
    });
}

TEST(ExprEval, TextFunctions) {
    runCases({
        {"UPPER(NAME)", C("SMITH     ")},
        {"LOWER(NAME)", C("smith     ")},
        {"UPPER(\"a-z{}1é\")", C("A-Z{}1\x82")}, // ASCII letters only
        {"LOWER(\"ABC@[Ü\")", C("abc@[\x9A")},
        {"UPPER(UML)", C("\x9A\x82 ")},
        {"TRIM(NAME)", C("Smith")},
        {"RTRIM(NAME)", C("Smith")},
        {"TRIM(\"   \")", C("")},
        {"LTRIM(PADDED)", C("ab  ")},
        {"ALLTRIM(PADDED)", C("ab")},
        {"ALLTRIM(\"\")", C("")},
        {"LEFT(NAME, 3)", C("Smi")},
        {"LEFT(NAME, 0)", C("")},
        {"LEFT(NAME, -1)", C("")},
        {"LEFT(NAME, 20)", C("Smith     ")},
        {"LEFT(NAME, 2.9)", C("Sm")},
        {"RIGHT(NAME, 5)", C("     ")},
        {"RIGHT(TRIM(NAME), 3)", C("ith")},
        {"RIGHT(NAME, 0)", C("")},
        {"RIGHT(CODE, 10)", C("AB  ")},
        {"SUBSTR(NAME, 2, 3)", C("mit")},
        {"SUBSTR(NAME, 2)", C("mith     ")},
        {"SUBSTR(\"hello\", -3)", C("llo")},
        {"SUBSTR(\"hello\", -3, 2)", C("ll")},
        {"SUBSTR(\"hello\", -9, 2)", C("he")},
        {"SUBSTR(\"hello\", 0, 2)", C("he")},
        {"SUBSTR(\"hello\", 5)", C("o")},
        {"SUBSTR(\"hello\", 6)", C("")},
        {"SUBSTR(\"hello\", 9)", C("")},
        {"SUBSTR(\"hello\", 2, 0)", C("")},
        {"SUBSTR(\"hello\", 2, -1)", C("")},
        {"SUBSTR(\"hello\", 4, 10)", C("lo")},
        {"SUBSTR(NAME, QTY - 40, 2)", C("mi")},
        {"LEN(NAME)", N(10)},
        {"LEN(TRIM(NAME))", N(5)},
        {"AT(\"th\", NAME)", N(4)},
        {"AT(\"x\", NAME)", N(0)},
        {"AT(\"\", NAME)", N(0)},
        {"UPPER(LEFT(NAME, 2)) + LOWER(SUBSTR(CODE, 1, 1))", C("SMa")},
    });
}

TEST(ExprEval, Str) {
    runCases({
        {"STR(42)", C("        42")},
        {"STR(-42)", C("       -42")},
        {"STR(3.7)", C("         4")},
        {"STR(0)", C("         0")},
        {"STR(QTY)", C("  42")}, // a numeric field: its own width and decimals
        {"STR(AMOUNT)", C("  -12.50")},
        {"STR(BLANKN)", C("    0")},
        {"STR(QTY + 0)", C("        42")}, // not a field any more: width 10
        {"STR(CNT)", C("    123456")},
        {"STR(QTY, 6)", C("    42")},
        {"STR(AMOUNT, 6)", C("   -13")}, // a width without decimals: 0 decimals
        {"STR(AMOUNT, 7, 1)", C("  -12.5")},
        {"STR(3.14159, 6, 2)", C("  3.14")},
        {"STR(2.5, 3)", C("  3")}, // half away from zero
        {"STR(-2.5, 3)", C(" -3")},
        {"STR(2.675, 5, 2)", C(" 2.68")},
        {"STR(0.125, 5, 2)", C(" 0.13")},
        {"STR(-0.001, 6, 2)", C("  0.00")}, // no "-0.00"
        {"STR(0.05, 4, 2)", C("0.05")},
        {"STR(1234.5, 10, 1)", C("    1234.5")},
        {"STR(12345, 3)", C("***")}, // does not fit: asterisks
        {"STR(-100, 3)", C("***")},
        {"STR(99.999, 5, 2)", C("*****")}, // rounds to 100.00
        {"STR(12345678901)", C("**********")},
        {"STR(5, 0)", C("         5")}, // a width below 1 means the default
        {"STR(5, 2, -1)", C(" 5")},
        {"STR(100000000000000000000, 25)", C("    100000000000000000000")},
        {"STR(RECNO(), 7)", C("     17")},
        {"LEN(STR(1, 300))", N(255)},
        {"STR(QTY, QTY - 37)", C("   42")}, // computed width
    });
}

TEST(ExprEval, ValEmptyIif) {
    runCases({
        {"VAL(\"  12.5abc\")", N(12.5)},
        {"VAL(\"\")", N(0)},
        {"VAL(\"-3\")", N(-3)},
        {"VAL(\"+3\")", N(3)},
        {"VAL(\" x1\")", N(0)},
        {"VAL(\".5\")", N(0.5)},
        {"VAL(\"7.\")", N(7)},
        {"VAL(\"12345678901234567890\")", N(12345678901234567890.0)},
        {"VAL(\"0.1234567890123456789\")", N(0.1234567890123456789)},
        {"VAL(CODE)", N(0)},
        {"VAL(STR(AMOUNT)) = AMOUNT", L(true)},
        {"EMPTY(\"   \")", L(true)},
        {"EMPTY(\"\")", L(true)},
        {"EMPTY(\" a\")", L(false)},
        {"EMPTY(NAME)", L(false)},
        {"EMPTY(SUBSTR(NAME, 6))", L(true)},
        {"EMPTY(0)", L(true)},
        {"EMPTY(QTY)", L(false)},
        {"EMPTY(BLANKN)", L(true)},
        {"EMPTY(NODATE)", L(true)},
        {"EMPTY(BORN)", L(false)},
        {"EMPTY(.F.)", L(true)},
        {"EMPTY(FLAG)", L(true)},
        {"EMPTY(ACTIVE)", L(false)},
        {"IIF(ACTIVE, \"yes\", \"no\")", C("yes")},
        {"IIF(FLAG, \"yes\", \"no\")", C("no")},
        {"IIF(FLAG, 1, 2)", N(2)},
        {"IIF(ACTIVE, BORN, NODATE)", D("20040315")},
        {"IIF(QTY > 40, .F., .T.)", L(false)},
        {"iif(FLAG, 1, 2) + 1", N(3)},
        {"IF(ACTIVE, 'a', 'b')", C("a")},
        {"IIF(ACTIVE, 1, 1 / 0)", N(1)},
        {"INT(-2.7)", N(-2)},
        {"INT(2.7)", N(2)},
        {"ABS(AMOUNT)", N(12.5)},
        {"RECNO()", N(17)},
        {"RECNO() = 17", L(true)},
        {"DELETED()", L(false)},
        {"deleted()", L(false)},
    });
}

TEST(ExprEval, DeletedAndRecno) {
    const auto e = Expression::compile("DELETED()", layout().fields);
    const auto r = Expression::compile("RECNO()", layout().fields);
    std::string rec = baseRecord();
    EXPECT_FALSE(e.test(RecordView{rec.data(), 1}));
    rec[0] = '*';
    EXPECT_TRUE(e.test(RecordView{rec.data(), 1}));
    const auto notDeleted = Expression::compile("!DELETED() .AND. RECNO() > 2", layout().fields);
    EXPECT_FALSE(notDeleted.test(RecordView{rec.data(), 3}));
    rec[0] = ' ';
    EXPECT_TRUE(notDeleted.test(RecordView{rec.data(), 3}));
    EXPECT_FALSE(notDeleted.test(RecordView{rec.data(), 2}));
    EXPECT_DOUBLE_EQ(r.evaluate(RecordView{rec.data(), 1000000}).num, 1000000);
}

// Field bytes as stored on disk, read through the expression.
TEST(ExprEval, FieldReading) {
    Layout t;
    t.add("N", 'N', 8, 2)
        .add("F", 'F', 10, 3)
        .add("D", 'D', 8)
        .add("L", 'L', 1)
        .add("C", 'C', 5)
        .add("I", 'I', 4);
    struct Raw {
        const char* field;
        const char* bytes; // stored bytes (padded with blanks by Layout::set)
        Expect want;
    };
    const std::vector<Raw> cases = {
        {"N", "", N(0)},
        {"N", "1.5", N(1.5)},
        {"N", "-0.25", N(-0.25)},
        {"N", "12345.67", N(12345.67)},
        {"N", "********", N(0)}, // overflow marks
        {"N", "12a", N(12)},     // read as VAL reads it
        {"N", "abc", N(0)},
        {"N", "-", N(0)},
        {"F", "1.234", N(1.234)},
        {"D", "20040101", D("20040101")},
        {"D", "", D("")},
        {"D", "20040230", D("")}, // not a date: empty
        {"D", "00000000", D("")},
        {"D", "2004 3 1", D("")},
        {"D", "18991230", D("18991230")},
        {"D", "18990704", D("18990704")},
        {"L", "T", L(true)},
        {"L", "t", L(true)},
        {"L", "Y", L(true)},
        {"L", "y", L(true)},
        {"L", "1", L(true)},
        {"L", "0", L(false)},
        {"L", "F", L(false)},
        {"L", "f", L(false)},
        {"L", "N", L(false)},
        {"L", "", L(false)},
        {"L", "?", L(false)},
        {"C", "", C("     ")},
        {"C", "ab", C("ab   ")},
        {"C", "abcde", C("abcde")},
        {"I", "0", N(0)},
        {"I", "-2147483648", N(-2147483648.0)},
        {"I", "2147483647", N(2147483647)},
    };
    for (const Raw& c : cases) {
        const std::string rec = t.record({{c.field, c.bytes}});
        const auto e = Expression::compile(c.field, t.fields);
        expectValue(e.evaluate(RecordView{rec.data(), 1}), c.want,
                    std::string(c.field) + " stored as \"" + c.bytes + "\"");
    }
    // Empty dates as DTOS and DTOC see them, from every kind of bad content.
    for (const char* bytes : {"", "20040230", "00000000", "2004 3 1", "abcdefgh"}) {
        const std::string rec = t.record({{"D", bytes}});
        EXPECT_EQ(Expression::compile("DTOS(D)", t.fields).evaluate(RecordView{rec.data(), 1}).str,
                  "        ")
            << bytes;
        EXPECT_EQ(Expression::compile("DTOC(D)", t.fields).evaluate(RecordView{rec.data(), 1}).str,
                  "  /  /    ")
            << bytes;
    }
}

// Every day from 1899 to 2101 goes through the date path and back.
TEST(ExprEval, DatesRoundTripAgainstCommonDate) {
    Layout t;
    t.add("D", 'D', 8);
    const auto dtos = Expression::compile("DTOS(D + 0)", t.fields); // computed: the general DTOS
    const auto dtoc = Expression::compile("DTOC(D)", t.fields);
    const auto self = Expression::compile("D", t.fields);
    auto day = *kes::Date::fromYmd(1899, 1, 1);
    const auto last = *kes::Date::fromYmd(2101, 1, 1);
    for (; day <= last; day = kes::Date(day.days() + 1)) {
        const std::string text = day.toYyyymmdd();
        const std::string rec = t.record({{"D", text}});
        const RecordView view{rec.data(), 1};
        const auto v = self.evaluate(view);
        ASSERT_EQ(v.date, day.days()) << text;
        ASSERT_FALSE(v.dateEmpty);
        ASSERT_EQ(dtos.evaluate(view).str, text);
        ASSERT_EQ(dtoc.evaluate(view).str, day.toShortText());
    }
}

TEST(ExprEval, TypesAndSingleField) {
    const auto& f = layout().fields;
    EXPECT_EQ(Expression::compile("NAME", f).type(), ValueType::Character);
    EXPECT_EQ(Expression::compile("QTY * 2", f).type(), ValueType::Numeric);
    EXPECT_EQ(Expression::compile("BORN + 1", f).type(), ValueType::Date);
    EXPECT_EQ(Expression::compile("ACTIVE", f).type(), ValueType::Logical);
    EXPECT_EQ(Expression::compile("NAME", f).singleField(), 0);
    EXPECT_EQ(Expression::compile("code", f).singleField(), 1);
    EXPECT_EQ(Expression::compile(" ( Born ) ", f).singleField(), 5);
    EXPECT_EQ(Expression::compile("CNT", f).singleField(), 9);
    EXPECT_EQ(Expression::compile("UPPER(NAME)", f).singleField(), -1);
    EXPECT_EQ(Expression::compile("DTOS(BORN)", f).singleField(), -1);
    EXPECT_EQ(Expression::compile("NAME + \"\"", f).singleField(), -1);
    EXPECT_EQ(Expression::compile("ACTIVE .AND. FLAG", f).singleField(), -1);
    const auto e = Expression::compile("  name = 'x' ", f);
    EXPECT_TRUE(e.valid());
    EXPECT_EQ(e.text(), "  name = 'x' ");
}

TEST(ExprEval, DefaultAndMoved) {
    Expression none;
    EXPECT_FALSE(none.valid());
    EXPECT_EQ(none.text(), "");
    EXPECT_EQ(none.singleField(), -1);
    const std::string rec = baseRecord();
    EXPECT_THROW(none.test(RecordView{rec.data(), 1}), EADSDatabaseError);
    EXPECT_THROW(none.evaluate(RecordView{rec.data(), 1}), EADSDatabaseError);

    Expression a = Expression::compile("QTY = 42", layout().fields);
    Expression b(std::move(a));
    EXPECT_TRUE(b.test(RecordView{rec.data(), 1}));
    Expression c;
    c = std::move(b);
    EXPECT_TRUE(c.test(RecordView{rec.data(), 1}));
    EXPECT_EQ(c.text(), "QTY = 42");
}

TEST(ExprEval, TestNeedsALogicalExpression) {
    const std::string rec = baseRecord();
    for (const char* text : {"NAME", "QTY + 1", "BORN", "DTOS(BORN)"}) {
        const auto e = Expression::compile(text, layout().fields);
        try {
            (void)e.test(RecordView{rec.data(), 1});
            ADD_FAILURE() << text << ": test() did not throw";
        } catch (const EADSDatabaseError& err) {
            EXPECT_EQ(err.Number(), AE_EXPRESSION_ERROR);
            EXPECT_NE(std::string(err.what()).find("must be logical"), std::string::npos)
                << err.what();
            EXPECT_NE(std::string(err.what()).find(text), std::string::npos) << err.what();
        }
        EXPECT_NO_THROW((void)e.evaluate(RecordView{rec.data(), 1}));
    }
}

TEST(ExprEval, LiteralsInOtherCodePages) {
    Layout t;
    t.add("NAME", 'C', 4);
    const std::string rec1252 = t.record({{"NAME", "\xDC"}}); // Ü in Windows-1252
    const std::string rec437 = t.record({{"NAME", "\x9A"}});  // Ü in code page 437
    const auto w = Expression::compile("NAME = \"Ü\"", t.fields, kes::CodePage::Windows1252);
    const auto o = Expression::compile("NAME = \"Ü\"", t.fields, kes::CodePage::Oem437);
    EXPECT_TRUE(w.test(RecordView{rec1252.data(), 1}));
    EXPECT_FALSE(w.test(RecordView{rec437.data(), 1}));
    EXPECT_TRUE(o.test(RecordView{rec437.data(), 1}));
    EXPECT_FALSE(o.test(RecordView{rec1252.data(), 1}));
}

// Long results that do not fit the evaluator's stack scratch.
TEST(ExprEval, LongConcatenations) {
    Layout t;
    t.add("A", 'C', 250).add("B", 'C', 250);
    std::string text = "A";
    for (int k = 0; k < 12; ++k)
        text += " + B + A";
    const auto e = Expression::compile(text, t.fields);
    const std::string rec = t.record({{"A", std::string(250, 'a')}, {"B", std::string(250, 'b')}});
    const auto v = e.evaluate(RecordView{rec.data(), 1});
    ASSERT_EQ(v.str.size(), 25u * 250u);
    EXPECT_EQ(v.str.substr(0, 250), std::string(250, 'a'));
    EXPECT_EQ(v.str.substr(250, 250), std::string(250, 'b'));
    const auto f = Expression::compile(text + " = A", t.fields);
    EXPECT_TRUE(f.test(RecordView{rec.data(), 1}));
}

} // namespace

namespace {

// xBase comparison with EXACT off, written out independently for the check below.
int referenceCompare(const std::string& l, const std::string& r) {
    for (size_t k = 0; k < l.size() && k < r.size(); ++k) {
        const auto a = static_cast<unsigned char>(l[k]), b = static_cast<unsigned char>(r[k]);
        if (a != b) return a < b ? -1 : 1;
    }
    return l.size() < r.size() ? -1 : 0;
}

bool referenceResult(const std::string& op, const std::string& l, const std::string& r) {
    const int c = referenceCompare(l, r);
    if (op == "==") return l == r;
    if (op == "=") return c == 0;
    if (op == "<>" || op == "#" || op == "!=") return c != 0;
    if (op == "<") return c < 0;
    if (op == "<=") return c <= 0;
    if (op == ">") return c > 0;
    return c >= 0; // >=
}

const char* const kOps[] = {"=", "==", "<>", "#", "!=", "<", "<=", ">", ">="};

// The same comparison folded at compile time (literal with literal), through
// the field-with-literal node, through the general node and field with field.
TEST(ExprEval, ComparisonPathsAgree) {
    // {text as written in an expression (UTF-8), the same text as stored (Windows-1252)}
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"A", "A"},       {"AB", "AB"},
        {"ABC", "ABC"},   {"ABD", "ABD"},
        {"B", "B"},       {"a", "a"},
        {" ", " "},       {"AB ", "AB "},
        {"ab", "ab"},     {"é", "\xE9"},
        {"z", "z"},       {"N", "N"},
        {"n", "n"},       {"20040101", "20040101"},
        {"2004", "2004"}, {"12345678901", "12345678901"},
    };
    for (const auto& [lText, l] : texts) {
        for (const auto& [rText, r] : texts) {
            Layout t;
            t.add("L", 'C', static_cast<uint16_t>(l.size()))
                .add("R", 'C', static_cast<uint16_t>(r.size()));
            const std::string rec = t.record({{"L", l}, {"R", r}});
            const RecordView view{rec.data(), 1};
            for (const std::string op : kOps) {
                const bool want = referenceResult(op, l, r);
                const std::string lit = "[" + rText + "]";
                for (const std::string& text :
                     {"[" + lText + "] " + op + " " + lit, "L " + op + " " + lit, "L " + op + " R",
                      "LEFT(L, 99) " + op + " " + lit, "L " + op + " LEFT(R, 99)"}) {
                    const auto e = Expression::compile(text, t.fields, kes::CodePage::Windows1252);
                    ASSERT_EQ(e.test(view), want)
                        << text << " with L=\"" << l << "\" R=\"" << r << "\"";
                }
            }
        }
    }
}

// DTOS(<date field>) against 8-byte literals (the fast node) and against the
// same DTOS computed the general way agree for valid, empty and bad dates.
TEST(ExprEval, DtosComparisonPathsAgree) {
    Layout t;
    t.add("D", 'D', 8);
    const std::vector<std::string> stored = {"20040101", "20040331", "20031231", "20040401",
                                             "",         "20040230", "2004 101", "00000000",
                                             "19991231", "20041231", "99991231", "00010101"};
    const std::vector<std::string> literals = {"20040101", "20040331", "        ", "2004033 ",
                                               "ABCDEFGH", "00000000", "99999999"};
    for (const std::string& s : stored) {
        const std::string rec = t.record({{"D", s}});
        const RecordView view{rec.data(), 1};
        const std::string seen = kes::Date::fromYyyymmdd(s) ? s : std::string(8, ' ');
        for (const std::string& lit : literals) {
            for (const char* op : kOps) {
                const bool want = referenceResult(op, seen, lit);
                for (const std::string& text :
                     {"DTOS(D) " + std::string(op) + " \"" + lit + "\"",
                      "DTOS(D + 0) " + std::string(op) + " \"" + lit + "\"",
                      "DTOS(d)" + std::string(op) + "'" + lit + "'"}) {
                    const auto e = Expression::compile(text, t.fields);
                    ASSERT_EQ(e.test(view), want) << text << " with D=\"" << s << "\"";
                }
            }
        }
    }
}

TEST(ExprEval, ConstantsAreFolded) {
    // Folding must not change results; these mix constants and fields.
    runCases({
        {"\"AB\" + \"CD\" = \"ABCD\"", L(true)},
        {"BORN >= STOD(\"20040101\") .AND. BORN <= STOD(\"20040331\")", L(true)},
        {"BORN > CTOD(\"03/15/2004\")", L(false)},
        {"DTOS(STOD(\"20040315\")) = DTOS(BORN)", L(true)},
        {"QTY = 40 + 2", L(true)},
        {"QTY * (1 + 1) = 84", L(true)},
        {"-(-QTY) = 42", L(true)},
        {"STR(2 * 21) = STR(QTY, 10)", L(true)},
        {"IIF(.T., NAME, \"x\")", C("Smith     ")},
        {"IIF(1 > 2, \"a\", \"b\") + CODE", C("bAB  ")},
        {"UPPER(\"x\") $ \"XYZ\"", L(true)},
        {".NOT. .T. .OR. ACTIVE", L(true)},
        {"RECNO() = 17 .AND. 1 = 1", L(true)},
    });
}

} // namespace

namespace {

// Two DTOS comparisons of one field joined by .AND. read the date once; the
// result must equal the same test written so that nothing is fused.
TEST(ExprEval, DtosRangeAgreesWithUnfused) {
    Layout t;
    t.add("D", 'D', 8).add("E", 'D', 8);
    const std::vector<std::string> stored = {"20040101", "20040331", "20031231", "20040401",
                                             "",         "20040230", "20040215", "2004 101"};
    const std::vector<std::string> literals = {"20040101", "20040331", "        "};
    for (const std::string& s : stored) {
        const std::string rec = t.record({{"D", s}, {"E", "20040215"}});
        const RecordView view{rec.data(), 1};
        for (const std::string& lo : literals)
            for (const std::string& hi : literals)
                for (const std::string op1 : kOps)
                    for (const std::string op2 : kOps) {
                        const std::string fused = "(DTOS(D) " + op1 + " \"" + lo +
                                                  "\") .and. (DTOS(D) " + op2 + " \"" + hi + "\")";
                        const std::string plain = "(DTOS(D + 0) " + op1 + " \"" + lo +
                                                  "\") .and. (DTOS(D + 0) " + op2 + " \"" + hi +
                                                  "\")";
                        const bool want = Expression::compile(plain, t.fields).test(view);
                        ASSERT_EQ(Expression::compile(fused, t.fields).test(view), want)
                            << fused << " D=" << s;
                    }
        // Different fields are not fused together.
        const auto mixed =
            Expression::compile("DTOS(D) >= \"20040101\" .and. DTOS(E) <= \"20040101\"", t.fields);
        EXPECT_FALSE(mixed.test(view)) << s;
    }
}

} // namespace

namespace {

// (expression, record values, expected): each row brings its own record.
struct RowCase {
    const char* expr;
    Layout::Values values;
    Expect want;
};

TEST(ExprEval, CasesWithTheirOwnRecords) {
    const std::vector<RowCase> cases = {
        {"RETEST <> \"N\"", {{"RETEST", "N"}}, L(false)},
        {"RETEST <> \"N\"", {{"RETEST", "n"}}, L(true)},
        {"RETEST <> \"N\"", {{"RETEST", ""}}, L(true)},
        {"RETEST = \"N\"", {{"RETEST", "N"}}, L(true)},
        {"UPPER(RETEST) = \"N\"", {{"RETEST", "n"}}, L(true)},
        {"RETEST $ \"Nn\"", {{"RETEST", ""}}, L(false)},
        {"NAME = \"Smi\"", {{"NAME", "Smith"}}, L(true)},
        {"NAME = \"Smi\"", {{"NAME", "Sm"}}, L(false)},
        {"NAME = \"Smi\"", {{"NAME", ""}}, L(false)},
        {"NAME == \"Sm\"", {{"NAME", "Sm"}}, L(false)},
        {"TRIM(NAME) == \"Sm\"", {{"NAME", "Sm"}}, L(true)},
        {"EMPTY(NAME)", {{"NAME", ""}}, L(true)},
        {"EMPTY(NAME)", {{"NAME", "  x"}}, L(false)},
        {"DTOS(BORN)", {{"BORN", "19600229"}}, C("19600229")},
        {"DTOS(BORN)", {{"BORN", "19610229"}}, C("        ")},
        {"DTOS(BORN) >= \"20040101\"", {{"BORN", ""}}, L(false)},
        {"DTOS(BORN) <= \"20040331\"", {{"BORN", ""}}, L(true)}, // blanks sort first
        {"DTOS(BORN) < \"20040101\"", {{"BORN", "20031231"}}, L(true)},
        {"DTOC(BORN)", {{"BORN", "18990704"}}, C("07/04/1899")},
        {"EMPTY(BORN)", {{"BORN", ""}}, L(true)},
        {"BORN > STOD(\"20000101\")", {{"BORN", ""}}, L(false)},
        {"QTY * 2", {{"QTY", ""}}, N(0)},
        {"QTY * 2", {{"QTY", "-3"}}, N(-6)},
        {"AMOUNT", {{"AMOUNT", "1234.56"}}, N(1234.56)},
        {"STR(AMOUNT)", {{"AMOUNT", "1234.56"}}, C(" 1234.56")},
        {"STR(AMOUNT)", {{"AMOUNT", ""}}, C("    0.00")},
        {"ACTIVE", {{"ACTIVE", "y"}}, L(true)},
        {"ACTIVE", {{"ACTIVE", "?"}}, L(false)},
        {"!ACTIVE .and. !FLAG", {{"ACTIVE", "F"}, {"FLAG", "n"}}, L(true)},
        {"IIF(ACTIVE, NAME, CODE)", {{"ACTIVE", "F"}, {"NAME", "x"}, {"CODE", "ab"}}, C("ab  ")},
        {"CNT + NEG", {{"CNT", "100"}, {"NEG", "-1"}}, N(99)},
    };
    for (const RowCase& c : cases) {
        std::string where = std::string(c.expr) + " with";
        for (const auto& [field, value] : c.values)
            where += " " + field + "=\"" + value + "\"";
        const auto e = Expression::compile(c.expr, layout().fields);
        const std::string rec = layout().record(c.values);
        expectValue(e.evaluate(RecordView{rec.data(), 1}), c.want, where);
    }
}

} // namespace
