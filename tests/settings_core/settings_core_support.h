// Helpers of the code-table tests: a writable copy of the sample data
// directory with or without the sample code tables, a code table read back
// in code order, and an operator that confirms and never retries.
#pragma once

#include "data/AdsTable.h"
#include "settings/core/CodeTables.h"

#include "support/Files.h"
#include "support/Manifest.h"
#include "support/RecordingOperator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace codetest {

namespace fs = std::filesystem;

using testsupport::fixture;

// A writable copy of the sample data directory that lives for one test.
class DataDir : public testsupport::TempDir {
  public:
    DataDir() : TempDir("codes") { copyFolder("virn-sample"); }

    // The sample's KESPLACE.DBF + KESPLACE.cdx and KESTEST.DBF + KESTEST.cdx.
    void addCodeTables() const {
        for (const char* name : {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"})
            copy(std::string("formats/cdx/") + name, name);
    }
};

struct CodeRow {
    std::string code;
    bool include = false;
    std::string newCode;
    std::string text;
    bool operator==(const CodeRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const CodeRow& row) {
    return out << "{" << row.code << ", " << (row.include ? "T" : "F") << ", " << row.newCode
               << ", \"" << row.text << "\"}";
}

// Every row of an open code table in its active order; the cursor is left at
// the first row.
inline std::vector<CodeRow> rowsOf(TAdsTable& table, const char* textField) {
    std::vector<CodeRow> rows;
    for (table.First(); !table.Eof(); table.Next())
        rows.push_back(
            {table.FieldByName("Code").AsString(), table.FieldByName("Include").AsBoolean(),
             table.FieldByName("NewCode").AsString(), table.FieldByName(textField).AsString()});
    table.First();
    return rows;
}

// Answers Yes to a confirmation and gives up at the first retry question.
class TestOperator : public testsupport::RecordingOperator {
  public:
    TestOperator() { confirmAnswer = true; }
};

} // namespace codetest
