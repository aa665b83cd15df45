// xBase expressions, compiled once against a table's fields and evaluated per
// record without parsing again. Used for filters and index keys.
#pragma once

#include "common/CodePage.h"
#include "data/Value.h"
#include "data/dbf.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xbase {

class Expression {
  public:
    Expression();
    ~Expression();
    Expression(Expression&&) noexcept;
    Expression& operator=(Expression&&) noexcept;

    // Compiles `text` for records with `fields`; string literals are converted
    // from UTF-8 to the table's code page. A syntax error, an unknown field or
    // function, or a type mismatch throws EADSDatabaseError (AE_EXPRESSION_ERROR)
    // whose text shows the expression and where it went wrong.
    static Expression compile(std::string_view text, const std::vector<FieldDef>& fields,
                              kes::CodePage codePage = kes::CodePage::Oem437);

    bool valid() const { return impl_ != nullptr; }
    const std::string& text() const;
    ValueType type() const;

    Value evaluate(const RecordView& record) const;
    // For logical expressions: whether the record satisfies it.
    bool test(const RecordView& record) const;

    // The field index when the whole expression is one field name, else -1.
    int singleField() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace xbase
