#include "export/core/ExportWriter.h"
#include "export/core/UploadPath.h"

#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "common/StepTimes.h"
#include "common/Text.h"
#include "data/OpenTableWithRetry.h"

#include <array>

namespace {

constexpr const char* kStagingTable = "KESTALEX";

// Suspends a table's screen updates for as long as it lives.
class ControlsDisabled {
  public:
    explicit ControlsDisabled(TAdsTable& table) : table_(table) { table_.DisableControls(); }
    ~ControlsDisabled() { table_.EnableControls(); }
    ControlsDisabled(const ControlsDisabled&) = delete;
    ControlsDisabled& operator=(const ControlsDisabled&) = delete;

  private:
    TAdsTable& table_;
};

// The hourglass for as long as it lives, and the progress bar back at 0 after.
class BusyCursor {
  public:
    explicit BusyCursor(Operator& op) : op_(op) { op_.SetHourglass(true); }
    ~BusyCursor() { op_.SetHourglass(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

  private:
    Operator& op_;
};

// ZeroPad(value, width) appended to `text`.
void appendZeroPadded(std::string& text, int64_t value, int width) {
    if (value >= 0 && value < 100000000) {
        char digits[8];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        for (int i = n; i < width; ++i)
            text += '0';
        while (n > 0)
            text += digits[--n];
        return;
    }
    text += ZeroPad(value, width);
}

std::string dateText(const TField& field) {
    // A valid stored date is its own text; an empty or unreadable one reads
    // as day zero, which is left blank like every date of 1899.
    const std::string_view stored = field.RawBytes();
    if (!kes::Date::fromYyyymmdd(stored) || stored.compare(0, 4, "1899") == 0) return {};
    return std::string(stored);
}

} // namespace

std::string StagingFieldList(const ExportOptions& options) {
    std::string list = "ID,C,9,0;LNAME,C,13,0;FNAME,C,11,0;MNAME,C,1,0;BIRTHDATE,C,8,0;"
                       "TESTCODE,C,4,0;TESTSCORE,C,4,0;DATE,C,8,0;";
    if (options.IncludeAttempted) list += "Attempt,C,3,0;";
    if (options.IncludeSubscores) list += "Subscores,C,20,0;";
    if (options.IncludePandA) list += "PANDA,C,6,0;";
    if (options.IncludeSiteCode) list += "SITECODE,C,2,0;";
    return list;
}

TExportWriter::TExportWriter() {
    // The selection window's design values of its export component.
    CSVExport1.DelimitedFields = dfAll;
    CSVExport1.FieldListAction = flaNone;
    CSVExport1.HeaderRecord = false;
    CSVExport1.TrailerRecord = false;
    CSVExport1.SetMaxRecords(0);
    CSVExport1.NumericAlign = naLeft;
    CSVExport1.ShowProgress = true;
    CSVExport1.DBaseFormat = false;
    CSVExport1.SetCustomSeparator("");
    CSVExport1.ExportType = expDelimited;
    CSVExport1.FieldSeparator = fspNone;
    CSVExport1.FieldDelimiter = fdlNone;
}

ExportOutcome TExportWriter::BuildExportFile(TAdsTable& workTable,
                                             const std::vector<TBookmark>& selected,
                                             const ExportOptions& options, Operator& op) {
    // No other process prepares from this folder meanwhile (EPreparationBusy).
    PreparationLock lock(options.DataDir);
    lastFailure_.clear();
    bool recordsStaged = false;
    bool filePrepared = false;
    {
        BusyCursor busy(op);
        op.ProcessPendingEvents();
        const int count = static_cast<int>(selected.size());
        op.SetProgressRange(0, count);
        op.SetProgress(0);

        if (AdsTable6.Active()) AdsTable6.Close();
        AdsTable6.DatabaseName = options.DataDir;
        AdsTable6.TableType = ttAdsCDX;
        AdsTable6.SetTableName(kStagingTable);
        kes::deleteFile(options.DataDir + kStagingTable + ".cdx");
        TAdsTable::AdsCreateTable(kes::resolveForWriting(options.DataDir + kStagingTable + ".dbf"),
                                  ttAdsCDX, OEM, 0, StagingFieldList(options));
        if (!OpenTableWithRetry(AdsTable6, op)) return ExportOutcome::Cancelled;

        try {
            AdsTable6.AdsCreateIndex61("", "ID", "ID", "", "", ADS_COMPOUND);

            // Source and destination fields, looked up once.
            TField& id = workTable.FieldByName("ID");
            TField& lname = workTable.FieldByName("LNAME");
            TField& fname = workTable.FieldByName("FNAME");
            TField& mname = workTable.FieldByName("MNAME");
            TField& birth = workTable.FieldByName("BIRTHDATE");
            TField& testCode = workTable.FieldByName("TESTCODE");
            TField& testScore = workTable.FieldByName("TESTSCORE");
            TField& date = workTable.FieldByName("DATE");
            TField* attempt =
                options.IncludeAttempted ? &workTable.FieldByName("ATTEMPT") : nullptr;
            std::array<TField*, 10> subscores{};
            if (options.IncludeSubscores)
                for (int i = 0; i < 10; ++i)
                    subscores[static_cast<size_t>(i)] =
                        &workTable.FieldByName("SS" + std::to_string(i + 1));
            TField* group = options.IncludePandA ? &workTable.FieldByName("GRPNUMBER") : nullptr;
            TField* site = options.IncludeSiteCode ? &workTable.FieldByName("SITECODE") : nullptr;

            {
                kes::StepTimer step("staging");
                ControlsDisabled quiet(workTable);
                // The staging fields in their order, looked up once.
                std::vector<TField*> out;
                for (int i = 0; i < AdsTable6.FieldCount(); ++i)
                    out.push_back(&AdsTable6.Fields(i));
                std::string joined;
                for (int row = 0; row < count; ++row) {
                    recordsStaged = true;
                    op.SetProgress(row);
                    if (row + 8 < count) workTable.Prefetch(selected[static_cast<size_t>(row + 8)]);
                    workTable.GotoBookmark(selected[static_cast<size_t>(row)]);
                    AdsTable6.Append();
                    auto next = out.begin();
                    (*next++)->Assign(id);
                    (*next++)->Assign(lname);
                    (*next++)->Assign(fname);
                    (*next++)->Assign(mname);
                    (*next++)->SetAsString(dateText(birth));
                    (*next++)->Assign(testCode);
                    (*next++)->Assign(testScore);
                    (*next++)->SetAsString(dateText(date));
                    if (attempt) (*next++)->SetAsString(ZeroPad(attempt->AsInteger(), 3));
                    if (options.IncludeSubscores) {
                        joined.clear();
                        for (TField* s : subscores)
                            appendZeroPadded(joined, s->AsInteger(), 2);
                        (*next++)->SetAsString(joined);
                    }
                    if (group) (*next++)->Assign(*group);
                    if (site) (*next++)->Assign(*site);
                    AdsTable6.Post();
                }
            }

            if (recordsStaged) {
                switch (options.FileFormat) {
                case 0:
                    CSVExport1.ExportType = expFixed;
                    CSVExport1.FieldSeparator = fspNone;
                    CSVExport1.FieldDelimiter = fdlNone;
                    break;
                case 1:
                    CSVExport1.ExportType = expDelimited;
                    CSVExport1.FieldSeparator = fspPipe;
                    CSVExport1.FieldDelimiter = fdlNone;
                    break;
                case 2:
                    CSVExport1.ExportType = expDelimited;
                    CSVExport1.FieldSeparator = fspComma;
                    CSVExport1.FieldDelimiter = fdlDouble;
                    break;
                case 3:
                    CSVExport1.ExportType = expDelimited;
                    CSVExport1.FieldSeparator = fspTab;
                    CSVExport1.FieldDelimiter = fdlNone;
                    break;
                default:
                    // Without a known layout the values would run together,
                    // a file that no reader could split: it is not written.
                    lastFailure_ = "Unknown file layout " + std::to_string(options.FileFormat) +
                                   " (File Format is 0 to 3)";
                    break;
                }
                CSVExport1.OutputFile =
                    options.AutoMode ? options.AutoFileName : options.FileNameText;
                // Never over a file the preparation reads or writes.
                if (lastFailure_.empty())
                    lastFailure_ = UploadPathProblem(CSVExport1.OutputFile, options.DataDir,
                                                     options.SettingsFile);
                CSVExport1.DataSet = &AdsTable6;
                CSVExport1.OutputCodePage = kes::CodePage::Windows1252;
                // The previous upload file stays until the new one is complete.
                CSVExport1.ReplaceWhenComplete = true;
                // The component talks to this run's operator, and to no
                // one once the run is over.
                CSVExport1.SetOperator(&op);
                int written = -1;
                try {
                    if (lastFailure_.empty()) {
                        kes::StepTimer step("writing");
                        written = CSVExport1.Execute();
                    }
                    CSVExport1.SetOperator(nullptr);
                } catch (const EADSDatabaseError&) {
                    CSVExport1.SetOperator(nullptr);
                    throw;
                } catch (const std::exception& e) {
                    CSVExport1.SetOperator(nullptr);
                    // A write error (a full disk): the file is not prepared.
                    lastFailure_ = e.what();
                    written = -1;
                }
                // Only a file that holds every staged row counts as prepared.
                filePrepared = written >= 0 && written == count && CSVExport1.SkippedCount() == 0;
                if (written < 0 && lastFailure_.empty())
                    lastFailure_ = "Unable to create " + CSVExport1.OutputFile;
                else if (written >= 0 && !filePrepared)
                    lastFailure_ = "Only " + std::to_string(written - CSVExport1.SkippedCount()) +
                                   " of " + std::to_string(count) + " records were written";
            }
        } catch (...) {
            AdsTable6.Close();
            throw;
        }
        {
            kes::StepTimer step("close staging table");
            AdsTable6.Close();
        }
        op.SetProgress(0);
    }

    if (filePrepared) {
        op.ShowInformation(kExportPreparedText);
        return ExportOutcome::Prepared;
    }
    if (recordsStaged) {
        op.ShowError(kExportNotPreparedText);
        return ExportOutcome::NotPrepared;
    }
    op.ShowError(kExportNoDataText);
    return ExportOutcome::NoData;
}

bool OpenWorkTable(TAdsTable& workTable, const std::string& dataDir, Operator& op) {
    if (workTable.Active()) workTable.Close();
    workTable.DatabaseName = dataDir;
    workTable.TableType = ttAdsCDX;
    workTable.SetTableName("KESTABLE");
    workTable.Exclusive = false;
    if (!OpenTableWithRetry(workTable, op)) return false;
    workTable.SetIndexName("SSN");
    workTable.First();
    return true;
}

std::vector<TBookmark> SelectAllInOrder(TAdsTable& table, const std::string& order) {
    if (!order.empty()) table.SetIndexName(order);
    std::vector<TBookmark> rows;
    rows.reserve(table.RecordCount());
    for (table.First(); !table.Eof(); table.Next())
        rows.push_back(table.GetBookmark());
    table.First();
    return rows;
}
