// Expressions that must not compile: the error number, the wording and the
// one-based position the message points at.
#include "data/Error.h"
#include "data/expr.h"
#include "expr_support.h"

#include <gtest/gtest.h>

using namespace exprtest;
using xbase::Expression;

namespace {

const Layout& layout() {
    static const Layout l = [] {
        Layout t;
        t.add("NAME", 'C', 10)
            .add("QTY", 'N', 4)
            .add("DATE", 'D', 8)
            .add("ACTIVE", 'L', 1)
            .add("FLAG", 'L', 1)
            .add("NOTES", 'M', 10)
            .add("STAMP", 'T', 8)
            .add("BADDATE", 'D', 6)
            .add("BADINT", 'I', 2);
        return t;
    }();
    return l;
}

std::string compileError(const std::string& text) {
    try {
        Expression::compile(text, layout().fields);
    } catch (const EADSDatabaseError& e) {
        EXPECT_EQ(e.Number(), AE_EXPRESSION_ERROR) << text;
        return e.what();
    }
    return "(compiled)";
}

TEST(ExprErrors, ExactMessage) {
    EXPECT_EQ(
        compileError("(DTOS(Dat) >= \"20040101\")"),
        "Error in expression \"(DTOS(Dat) >= \"20040101\")\": unknown field \"Dat\" at position 7");
    EXPECT_EQ(compileError("(retest <> \"N\")"),
              "Error in expression \"(retest <> \"N\")\": unknown field \"retest\" at position 2");
}

struct Bad {
    const char* expr;
    const char* wording; // must appear in the message
    int position;
};

TEST(ExprErrors, Table) {
    const std::vector<Bad> cases = {
        // syntax
        {"", "the expression is empty", 1},
        {"   ", "the expression is empty", 1},
        {"NAME =", "unexpected end of expression", 7},
        {"NAME = ", "unexpected end of expression", 8},
        {"(NAME = \"A\"", "missing \")\"", 12},
        {"NAME = \"A\")", "unexpected \")\"", 11},
        {"NAME = \"abc", "unterminated string", 8},
        {"NAME = 'abc\"", "unterminated string", 8},
        {"NAME = [abc", "unterminated string", 8},
        {"NAME @ 1", "unexpected character \"@\"", 6},
        {"NAME = .X.", "unexpected \".\"", 8},
        {"ACTIVE .AN. FLAG", "unexpected \".\"", 8},
        {"ACTIVE .AND FLAG", "unexpected \".\"", 8},
        {"NAME NAME", "unexpected \"NAME\"", 6},
        {"QTY 1", "unexpected \"1\"", 5},
        {"QTY 'x'", "unexpected \"'x'\"", 5},
        {"QTY .T.", "unexpected \".T.\"", 5},
        {"()", "unexpected \")\"", 2},
        {"QTY * * 2", "unexpected \"*\"", 7},
        {"SUBSTR(NAME, 1", "missing \")\" after the arguments of SUBSTR", 15},
        {"SUBSTR(NAME,,1)", "unexpected \",\"", 13},
        {"SUBSTR(NAME 1)", "unexpected \"1\"", 13},
        {"ALIAS->NAME", "unknown alias \"ALIAS\"", 1},
        {"FIELD->3", "unexpected \"3\"", 8},
        {"\"Ü\" = XX", "unknown field \"XX\"", 7}, // positions count characters, not bytes
        // names
        {"Dat", "unknown field \"Dat\"", 1},
        {"NAME = NAMES", "unknown field \"NAMES\"", 8},
        {"FOO(NAME)", "unknown function \"FOO\"", 1},
        {"QTY + sqrt(4)", "unknown function \"sqrt\"", 7},
        {"NOTES = \"x\"", "field \"NOTES\" has type M, which expressions cannot use", 1},
        {"EMPTY(stamp)", "field \"STAMP\" has type T", 7},
        {"BADDATE", "field \"BADDATE\" of type D has length 6, not 8", 1},
        {"BADINT", "field \"BADINT\" of type I has length 2, not 4", 1},
        // argument counts
        {"DTOS()", "DTOS expects 1 argument, got 0", 1},
        {"DTOS(DATE, DATE)", "DTOS expects 1 argument, got 2", 1},
        {"SUBSTR(NAME)", "SUBSTR expects 2 or 3 arguments, got 1", 1},
        {"QTY = 1 .or. substr(NAME, 1, 2, 3) = \"\"", "SUBSTR expects 2 or 3 arguments, got 4", 14},
        {"STR()", "STR expects 1 to 3 arguments, got 0", 1},
        {"STR(1, 2, 3, 4)", "STR expects 1 to 3 arguments, got 4", 1},
        {"RECNO(1)", "RECNO expects no arguments, got 1", 1},
        {"DELETED(ACTIVE)", "DELETED expects no arguments, got 1", 1},
        {"IIF(ACTIVE, 1)", "IIF expects 3 arguments, got 2", 1},
        {"LEFT(NAME)", "LEFT expects 2 arguments, got 1", 1},
        // types
        {"NAME = 1", "type mismatch: cannot compare character with numeric (\"=\")", 6},
        {"DATE >= \"20040101\"", "type mismatch: cannot compare date with character (\">=\")", 6},
        {"QTY + NAME", "type mismatch: cannot apply \"+\" to numeric and character", 5},
        {"NAME - 1", "type mismatch: cannot apply \"-\" to character and numeric", 6},
        {"1 - DATE", "type mismatch: cannot apply \"-\" to numeric and date", 3},
        {"DATE + DATE", "type mismatch: cannot apply \"+\" to date and date", 6},
        {"NAME * 2", "type mismatch: cannot apply \"*\" to character and numeric", 6},
        {"QTY / ACTIVE", "type mismatch: cannot apply \"/\" to numeric and logical", 5},
        {"-NAME", "type mismatch: unary \"-\" needs a number, not character", 1},
        {"NAME .AND. ACTIVE", "type mismatch: .AND. needs logical operands, not character", 6},
        {"ACTIVE .or. 1", "type mismatch: .OR. needs logical operands, not numeric", 8},
        {".NOT. NAME", "type mismatch: \".NOT.\" needs a logical operand, not character", 1},
        {"!QTY", "type mismatch: \"!\" needs a logical operand, not numeric", 1},
        {"ACTIVE < FLAG", "type mismatch: \"<\" cannot compare logical values", 8},
        {"QTY $ NAME", "type mismatch: \"$\" needs character operands, not numeric", 5},
        {"DTOS(NAME)", "type mismatch: argument 1 of DTOS must be date, not character", 6},
        {"(DTOS( Date ) >= \"2004\") .and. UPPER(QTY) = \"\"",
         "argument 1 of UPPER must be character, not numeric", 38},
        {"SUBSTR(NAME, \"1\")",
         "type mismatch: argument 2 of SUBSTR must be numeric, not character", 14},
        {"STR(NAME)", "argument 1 of STR must be numeric, not character", 5},
        {"VAL(QTY)", "argument 1 of VAL must be character, not numeric", 5},
        {"IIF(NAME, 1, 2)", "argument 1 of IIF must be logical, not character", 5},
        {"IIF(ACTIVE, 1, \"a\")",
         "the branches of IIF have different types (numeric and character)", 16},
        {"DTOC((QTY))", "argument 1 of DTOC must be date, not numeric", 6},
        {"NAME = 'a' = 'b'", "cannot compare logical with character", 12},
    };
    for (const Bad& c : cases) {
        const std::string message = compileError(c.expr);
        SCOPED_TRACE(std::string("expression: ") + c.expr);
        EXPECT_NE(message.find(std::string("Error in expression \"") + c.expr + "\": "),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find(c.wording), std::string::npos) << message;
        const std::string at = " at position " + std::to_string(c.position);
        EXPECT_TRUE(message.size() >= at.size() &&
                    message.compare(message.size() - at.size(), at.size(), at) == 0)
            << message << "\n  expected to end with:" << at;
    }
}

TEST(ExprErrors, NestingLimits) {
    // Reasonable nesting works...
    EXPECT_NO_THROW(Expression::compile(std::string(150, '(') + "QTY" + std::string(150, ')'),
                                        layout().fields));
    std::string chain = "QTY";
    for (int k = 0; k < 1000; ++k)
        chain += " + 1";
    EXPECT_NO_THROW(Expression::compile(chain, layout().fields));
    // ...absurd nesting is refused instead of exhausting the stack.
    const std::string deep = std::string(100000, '(') + "QTY" + std::string(100000, ')');
    EXPECT_NE(compileError(deep).find("the expression is nested too deeply at position 201"),
              std::string::npos);
    EXPECT_NE(compileError(std::string(5000, '-') + "QTY").find("nested too deeply"),
              std::string::npos);
    EXPECT_NE(compileError(std::string(5000, '!') + "ACTIVE").find("nested too deeply"),
              std::string::npos);
    std::string longChain = "QTY";
    for (int k = 0; k < 3000; ++k)
        longChain += " + QTY";
    EXPECT_NE(compileError(longChain).find("the expression is too long to evaluate"),
              std::string::npos);
}

TEST(ExprErrors, UnusedBadFieldsDoNotMatter) {
    // Types the engine cannot read are refused only when the expression names them.
    EXPECT_NO_THROW(Expression::compile("NAME = \"x\" .AND. QTY > 1", layout().fields));
}

} // namespace
