// The xBase expression engine.
//
// compile() turns the text into a flat vector of statically typed nodes (each
// node names its operands by index; the root is the last node). The evaluator
// is four small recursive functions, one per result type, that read values
// straight from the raw record bytes. Character results are string_views into
// the record, into the literal pool, or into a per-node scratch area whose size
// is known at compile time, so evaluating allocates nothing.
//
// Semantics follow Clipper / Harbour with SET EXACT OFF:
//
// * Character comparison is by byte code (unsigned). "=", "<>", "#", "!=",
//   "<", "<=", ">", ">=" compare the two strings over the shorter length; when
//   that part is equal the result depends on the lengths: a left side at
//   least as long as the right side counts as EQUAL ("ABC" = "AB" is true, so
//   is x = ""), a shorter left side counts as LESS ("AB" = "ABC" is false,
//   "AB" < "ABC" is true). Consequently "ABC" > "AB" is false and
//   "ABC" >= "AB" is true, as in Clipper. "==" is exact: same length, same
//   bytes. "<>", "#" and "!=" are the negation of "=".
// * "$": a $ b is true when a occurs in b; an empty a is never contained.
// * Numbers compare as doubles, dates as dates (an empty date is equal to
//   another empty date and before every other date), logicals only with
//   "=", "==", "<>", "#", "!=".
// * "+" on strings concatenates; "-" concatenates with the trailing blanks of
//   the left operand moved to the end. Date + n, n + date and date - n give a
//   date (an empty date stays empty), date - date the number of days (0 when
//   either is empty). Division by zero gives 0 (evaluation never throws).
// * Field values: C the stored bytes with trailing blanks; D a date, empty
//   when the 8 bytes are blank or not a valid yyyymmdd date; N and F the text
//   read as VAL() reads it (blank or unreadable: 0); I and + a 4-byte
//   little-endian integer; Y (currency) an 8-byte little-endian integer / 10000;
//   L true for T, t, Y, y and 1. Other types (M, G, P, B, T, @, ...) are refused.
// * UPPER and LOWER change ASCII letters only; TRIM/RTRIM/LTRIM/ALLTRIM remove
//   blanks (byte 32) only; EMPTY is true for a string of blanks, tabs, CR and
//   LF only (Harbour), 0, an empty date, .F.
// * STR(n [, width [, decimals]]): width 10 and 0 decimals by default,
//   EXCEPT when the only argument is a numeric field: then the
//   field's own width and decimals, as every xBase does (index keys like
//   STR(AMOUNT) depend on it). A width given without decimals means 0
//   decimals; a width below 1 means 10; widths are capped at 255. Rounding is
//   half away from zero; a number that does not fit gives `width` asterisks.
// * IIF (alias IF) needs branches of one type (so an expression has one
//   static type) and evaluates only the branch it takes.
// * "FIELD->name" and "_FIELD->name" are accepted for a field name.
//
// Precedence, loosest first: .OR.; .AND.; .NOT. and !; the relational
// operators (= == <> # != < <= > >= $, left-associative); + -; * /; unary - +.

#include "data/expr.h"

#include "data/Error.h"
#include "data/expr_detail.h"

#include <string>
#include <vector>

namespace xbase {

using namespace exprdetail;

namespace {

const std::string kEmptyText;

// Scratch space for one evaluation: on the stack when small, else a buffer
// per thread that only grows.
constexpr uint32_t kStackScratch = 2048;

char* bigScratch(uint32_t size) {
    thread_local std::vector<char> buffer;
    if (buffer.size() < size) buffer.resize(size);
    return buffer.data();
}

} // namespace

// ---------------------------------------------------------------------------
// Expression

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

const std::string& Expression::text() const {
    return impl_ ? impl_->text : kEmptyText;
}

ValueType Expression::type() const {
    return impl_ ? impl_->type : ValueType::Character;
}

int Expression::singleField() const {
    return impl_ ? impl_->singleField : -1;
}

namespace {

[[noreturn]] void notCompiled() {
    throw EADSDatabaseError(AE_EXPRESSION_ERROR, "The expression is not compiled");
}

[[noreturn]] void notLogical(const Program& im) {
    throw EADSDatabaseError(AE_EXPRESSION_ERROR, "Error in expression \"" + im.text +
                                                     "\": a filter must be logical, not " +
                                                     typeName(im.type));
}

Value evaluateInto(const Program& im, const Ctx& x) {
    switch (im.type) {
    case ValueType::Character:
        return Value::character(std::string(evalC(x, im.root)));
    case ValueType::Numeric:
        return Value::numeric(evalN(x, im.root));
    case ValueType::Date: {
        const int32_t d = evalD(x, im.root);
        return d == kNoDate ? Value::fromDate(0, true) : Value::fromDate(d);
    }
    case ValueType::Logical:
        return Value::boolean(evalL(x, im.root));
    }
    return {};
}

} // namespace

Value Expression::evaluate(const RecordView& record) const {
    if (!impl_) notCompiled();
    const Impl& im = *impl_;
    Ctx x{im.nodes.data(), record.data, im.pool.data(), nullptr, record.recno};
    if (im.scratchSize <= kStackScratch) {
        char buf[kStackScratch];
        x.scratch = buf;
        return evaluateInto(im, x);
    }
    x.scratch = bigScratch(im.scratchSize);
    return evaluateInto(im, x);
}

bool Expression::test(const RecordView& record) const {
    if (!impl_) [[unlikely]]
        notCompiled();
    const Impl& im = *impl_;
    if (im.type != ValueType::Logical) [[unlikely]]
        notLogical(im);
    Ctx x{im.nodes.data(), record.data, im.pool.data(), nullptr, record.recno};
    if (im.scratchSize == 0) return evalL(x, im.root);
    if (im.scratchSize <= kStackScratch) {
        char buf[kStackScratch];
        x.scratch = buf;
        return evalL(x, im.root);
    }
    x.scratch = bigScratch(im.scratchSize);
    return evalL(x, im.root);
}

} // namespace xbase
