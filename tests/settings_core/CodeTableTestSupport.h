// Helpers of the code-table tests: a writable copy of the sample data
// directory with or without the sample code tables, a code table read back
// in code order, and an operator that confirms and never retries.
#pragma once

#include "data/AdsTable.h"
#include "settings/core/CodeTables.h"

#include "support/Manifest.h"
#include "support/RecordingOperator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace codetest {

namespace fs = std::filesystem;

inline std::string fixture(const std::string& relative) {
    return std::string(KES_TEST_DATA) + "/" + relative;
}

class DataDir {
  public:
    DataDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("kes-codes-") + info->test_suite_name() + "-" +
                           info->name() + "-" + std::to_string(::getpid());
        for (char& c : name)
            if (c == '/') c = '_';
        path_ = fs::temp_directory_path() / name;
        fs::remove_all(path_);
        fs::copy(fixture("virn-sample"), path_, fs::copy_options::recursive);
        for (auto& entry : fs::recursive_directory_iterator(path_))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    ~DataDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    DataDir(const DataDir&) = delete;
    DataDir& operator=(const DataDir&) = delete;

    std::string dir() const { return path_.string() + "/"; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

    // The sample's KESPLACE.DBF + KESPLACE.cdx and KESTEST.DBF + KESTEST.cdx.
    void addCodeTables() const {
        for (const char* name : {"KESPLACE.DBF", "KESPLACE.cdx", "KESTEST.DBF", "KESTEST.cdx"})
            copyIn(std::string("formats/cdx/") + name, name);
    }
    void copyIn(const std::string& relative, const std::string& as) const {
        fs::copy_file(fixture(relative), path_ / as, fs::copy_options::overwrite_existing);
        fs::permissions(path_ / as, fs::perms::owner_write, fs::perm_options::add);
    }

  private:
    fs::path path_;
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
