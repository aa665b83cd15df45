// Helpers of the gathering tests: a copy of the sample data directory per
// test, the manifests' CSV files, the work table read back, and an operator
// that records what the gathering tells it.
#pragma once

#include "data/AdsTable.h"
#include "prep/core/Gather.h"

#include "support/Files.h"
#include "support/Manifest.h"
#include "support/RecordingOperator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace gathertest {

namespace fs = std::filesystem;

using testsupport::fixture;

// A writable copy of the sample data directory that lives for one test.
class SampleDataDir : public testsupport::TempDir {
  public:
    SampleDataDir() : TempDir("gather") { copyFolder("virn-sample"); }

    // KESPLACE.DBF/.cdx and KESTEST.DBF/.cdx of the sample, filled from VIRNTP1.
    void addCodeTables(bool placement = true, bool test = true) const {
        if (placement) copyIn("formats/cdx/KESPLACE.DBF", "formats/cdx/KESPLACE.cdx");
        if (test) copyIn("formats/cdx/KESTEST.DBF", "formats/cdx/KESTEST.cdx");
    }

  private:
    void copyIn(const std::string& dbf, const std::string& cdx) const {
        copy(dbf);
        copy(cdx);
    }
};

using testsupport::readFile;

// One CSV record by column name; values as raw bytes, quotes removed.
using CsvRecord = std::map<std::string, std::string>;

inline std::vector<CsvRecord> readCsv(const std::string& path) {
    const testsupport::CsvTable table = testsupport::readCsvTable(path);
    std::vector<CsvRecord> records;
    for (const auto& row : table.rows) {
        CsvRecord record;
        for (size_t c = 0; c < table.header.size() && c < row.size(); ++c)
            record[table.header[c]] = row[c];
        records.push_back(record);
    }
    return records;
}

inline std::vector<CsvRecord> manifest(const std::string& period, const std::string& table) {
    return readCsv(fixture("virn-sample-manifest/" + period + "/" + table + ".records.csv"));
}

// One row of the work table: every field by name, character fields as the
// stored bytes (blank padded), dates as yyyymmdd ("" for an empty date),
// numbers as whole-number text.
using WorkRow = std::map<std::string, std::string>;

struct WorkTableContents {
    std::vector<std::string> tags;
    std::vector<WorkRow> rows;
    int deleted = 0;
};

inline WorkTableContents readWorkTable(const std::string& dataDir) {
    WorkTableContents out;
    TAdsTable table;
    table.DatabaseName = dataDir;
    table.TableType = ttAdsCDX;
    table.SetTableName("KESTABLE");
    table.Open();
    out.tags = table.IndexNames();
    for (table.First(); !table.Eof(); table.Next()) {
        if (table.IsDeleted()) ++out.deleted;
        WorkRow row;
        for (int i = 0; i < table.FieldCount(); ++i) {
            TField& field = table.Fields(i);
            xbase::Value value = field.AsValue();
            switch (field.TypeLetter()) {
            case 'D':
                row[field.FieldName()] =
                    value.dateEmpty ? std::string() : kes::Date(value.date).toYyyymmdd();
                break;
            case 'N':
                row[field.FieldName()] = std::to_string(field.AsInteger());
                break;
            default:
                row[field.FieldName()] = value.str;
                break;
            }
        }
        out.rows.push_back(row);
    }
    table.Close();
    return out;
}

// Blank padded or cut to `width` bytes, as a character field stores it.
inline std::string padded(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

// Records what the gathering tells the operator and answers the retry
// question with `retry`. `onFinalClear` runs when the status text is cleared
// at the end of a run, while the gathering is still under way.
class GatherOperator : public testsupport::RecordingOperator {
  public:
    explicit GatherOperator(bool retry = false) {
        retryOtherwise = retry;
        onStatus = [this](const std::string& text) {
            if (text.empty() && onFinalClear) onFinalClear();
        };
    }
    std::function<void()> onFinalClear;
};

// True when the table file can be opened exclusively now, that is when
// nobody else holds it open.
inline bool openableExclusively(const std::string& dir, const std::string& name,
                                TAdsTableType type = ttAdsNTX) {
    TAdsTable table;
    table.DatabaseName = dir;
    table.TableType = type;
    table.SetTableName(name);
    table.Exclusive = true;
    try {
        table.Open();
    } catch (const EADSDatabaseError&) {
        return false;
    }
    table.Close();
    return true;
}

// The date-range filter text the main window builds for a first and last day.
inline std::string dateRange(const std::string& first, const std::string& last) {
    return "(DTOS(Date) >= \"" + first + "\") .and. (DTOS(Date) <= \"" + last + "\")";
}

} // namespace gathertest
