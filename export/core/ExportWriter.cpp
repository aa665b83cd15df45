#include "export/core/ExportWriter.h"
#include "export/core/UploadPath.h"

#include "common/CodePage.h"
#include "common/Parallel.h"
#include "common/Paths.h"
#include "common/StepTimer.h"
#include "common/Text.h"
#include "data/OpenTableWithRetry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

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

// Writes a table's indexes on a thread of its own while the caller reads the
// table in natural order. wait() passes on the thread's error; the end of
// its life waits too, and drops the error.
class IndexWriter : public kes::BackgroundTask {
  public:
    explicit IndexWriter(TAdsTable& table)
        : kes::BackgroundTask([&table] {
              kes::StepTimer step("staging index");
              table.WriteIndexes();
          }) {}
};

// A stored date's text: a valid date is its own text; an empty or
// unreadable one reads as day zero, which is left blank like every date of
// 1899.
std::string_view dateText(std::string_view stored) {
    if (!kes::Date::fromYyyymmdd(stored) || stored.compare(0, 4, "1899") == 0) return {};
    return stored;
}

// The whole number a numeric field holds, straight from its bytes when they
// are digits after blanks (what the table writes), through the field
// otherwise: a blank, signed, decimal or damaged number reads as the field
// reads it.
int64_t wholeNumber(const TField& field, const xbase::FieldDef& def, const char* record,
                    uint32_t recno) {
    int64_t value;
    if ((def.type == 'N' || def.type == 'F') &&
        kes::parseDigits(kes::trimLeft(std::string_view(record + def.offset, def.length)), value))
        return value;
    return field.At(recno).AsInteger();
}

// Fills the staging records from the selected rows of the work table, field
// by field from the stored bytes: no record is visited through the cursor.
class Stager {
  public:
    Stager(TAdsTable& workTable, TAdsTable& staging, const ExportOptions& options)
        : work_(workTable), staging_(staging) {
        auto source = [&](const char* name) -> Source {
            TField& f = workTable.FieldByName(name);
            return Source{&f, &workTable.FieldDefs()[static_cast<size_t>(f.Index())]};
        };
        id_ = source("ID");
        lname_ = source("LNAME");
        fname_ = source("FNAME");
        mname_ = source("MNAME");
        birth_ = source("BIRTHDATE");
        testCode_ = source("TESTCODE");
        testScore_ = source("TESTSCORE");
        date_ = source("DATE");
        if (options.IncludeAttempted) attempt_ = source("ATTEMPT");
        subscores_ = options.IncludeSubscores;
        if (subscores_)
            for (int i = 0; i < 10; ++i)
                subscore_[static_cast<size_t>(i)] = source(("SS" + std::to_string(i + 1)).c_str());
        if (options.IncludePandA) group_ = source("GRPNUMBER");
        if (options.IncludeSiteCode) site_ = source("SITECODE");
        for (const xbase::FieldDef& f : staging.FieldDefs())
            out_.push_back(&f);
        sameCodePage_ = workTable.CodePage() == staging.CodePage();
        translate_ = &kes::byteTranslation(workTable.CodePage(), staging.CodePage());
        recordLength_ = staging.File().recordLength();
    }

    // Stages the record `recno` of the work table into `to`.
    void stage(uint32_t recno, char* to) {
        const char* from = work_.File().record(recno);
        std::memset(to, ' ', recordLength_);
        size_t k = 0;
        auto target = [&]() -> const xbase::FieldDef& { return *out_[k++]; };
        copyText(id_, from, recno, to, target());
        copyText(lname_, from, recno, to, target());
        copyText(fname_, from, recno, to, target());
        copyText(mname_, from, recno, to, target());
        putText(date(stored(birth_, from)), to, target());
        copyText(testCode_, from, recno, to, target());
        copyText(testScore_, from, recno, to, target());
        putText(date(stored(date_, from)), to, target());
        if (attempt_.field) {
            Digits text;
            text.add(wholeNumber(*attempt_.field, *attempt_.def, from, recno), 3);
            putText(text.view(), to, target());
        }
        if (subscores_) {
            Digits text;
            for (const Source& s : subscore_)
                text.add(wholeNumber(*s.field, *s.def, from, recno), 2);
            putText(text.view(), to, target());
        }
        if (group_.field) copyText(group_, from, recno, to, target());
        if (site_.field) copyText(site_, from, recno, to, target());
    }

  private:
    // Numbers zero-padded one after another, as ZeroPad writes them.
    struct Digits {
        char bytes[10 * 24];
        size_t size = 0;
        void add(int64_t value, int width) { size += kes::zeroPadInto(bytes + size, value, width); }
        std::string_view view() const { return std::string_view(bytes, size); }
    };

    // dateText of stored bytes, remembered: the same dates come again and
    // again.
    std::string_view date(std::string_view stored) {
        if (stored.size() != 8) return dateText(stored);
        uint64_t key;
        std::memcpy(&key, stored.data(), 8);
        const size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 52); // 4096
        DateSeen& seen = dates_[slot];
        if (!seen.filled || seen.key != key) {
            seen.key = key;
            seen.filled = true;
            seen.valid = !dateText(stored).empty();
        }
        return seen.valid ? stored : std::string_view();
    }

    struct Source {
        TField* field = nullptr;
        const xbase::FieldDef* def = nullptr;
    };

    static std::string_view stored(const Source& s, const char* from) {
        return std::string_view(from + s.def->offset, s.def->length);
    }

    // What TField::Assign stores: text moves across as bytes (translated when
    // the code pages differ), cut to the target; anything else as its text.
    void copyText(const Source& s, const char* from, uint32_t recno, char* to,
                  const xbase::FieldDef& target) {
        if (s.def->type != 'C') {
            putText(s.field->At(recno).AsString(), to, target);
            return;
        }
        const char* bytes = from + s.def->offset;
        char* out = to + target.offset;
        const size_t n = std::min<size_t>(s.def->length, target.length);
        if (sameCodePage_) {
            std::memcpy(out, bytes, n);
        } else {
            for (size_t i = 0; i < n; ++i)
                out[i] = (*translate_)[static_cast<unsigned char>(bytes[i])];
        }
    }

    // What TField::SetAsString stores in a text field of a blank record.
    void putText(std::string_view text, char* to, const xbase::FieldDef& target) {
        char* out = to + target.offset;
        if (kes::isAscii(text)) {
            // An empty text (an empty date) may point nowhere: nothing is copied from it.
            if (!text.empty())
                std::memcpy(out, text.data(), std::min<size_t>(text.size(), target.length));
            return;
        }
        const std::string bytes = kes::fromUtf8(text, staging_.CodePage());
        std::memcpy(out, bytes.data(), std::min<size_t>(bytes.size(), target.length));
    }

    TAdsTable& work_;
    TAdsTable& staging_;
    Source id_, lname_, fname_, mname_, birth_, testCode_, testScore_, date_, attempt_, group_,
        site_;
    std::array<Source, 10> subscore_{};
    bool subscores_ = false;
    std::vector<const xbase::FieldDef*> out_;
    bool sameCodePage_ = true;
    const std::array<char, 256>* translate_ = nullptr;
    size_t recordLength_ = 0;
    struct DateSeen {
        uint64_t key = 0;
        bool filled = false;
        bool valid = false;
    };
    std::vector<DateSeen> dates_ = std::vector<DateSeen>(4096);
};

// Sets the export component to the layout a File Format names; the reason
// it cannot be written otherwise.
std::string applyLayout(TCSVExport& exporter, int fileFormat) {
    switch (fileFormat) {
    case 0:
        exporter.ExportType = expFixed;
        exporter.FieldSeparator = fspNone;
        exporter.FieldDelimiter = fdlNone;
        return {};
    case 1:
        exporter.ExportType = expDelimited;
        exporter.FieldSeparator = fspPipe;
        exporter.FieldDelimiter = fdlNone;
        return {};
    case 2:
        exporter.ExportType = expDelimited;
        exporter.FieldSeparator = fspComma;
        exporter.FieldDelimiter = fdlDouble;
        return {};
    case 3:
        exporter.ExportType = expDelimited;
        exporter.FieldSeparator = fspTab;
        exporter.FieldDelimiter = fdlNone;
        return {};
    default:
        // Without a known layout the values would run together, a file
        // that no reader could split: it is not written.
        return "Unknown file layout " + std::to_string(fileFormat) + " (File Format is 0 to 3)";
    }
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

std::string NotPreparedMessage(const std::string& reason) {
    std::string text = kExportNotPreparedText;
    if (!reason.empty()) text += "\r\n" + reason;
    return text;
}

ExportOutcome TExportWriter::BuildExportFile(TAdsTable& workTable,
                                             const std::vector<TBookmark>& selected,
                                             const ExportOptions& options, Operator& op) {
    const ExportOutcome outcome = WriteExportFile(workTable, selected, options, op);
    ShowOutcome(outcome, op);
    return outcome;
}

void TExportWriter::ShowOutcome(ExportOutcome outcome, Operator& op) const {
    switch (outcome) {
    case ExportOutcome::Prepared:
        op.ShowInformation(kExportPreparedText);
        break;
    case ExportOutcome::NotPrepared:
        op.ShowError(NotPreparedMessage(lastFailure_));
        break;
    case ExportOutcome::NoData:
        op.ShowError(kExportNoDataText);
        break;
    case ExportOutcome::Cancelled:
        break;
    }
}

ExportOutcome TExportWriter::WriteExportFile(TAdsTable& workTable,
                                             const std::vector<TBookmark>& selected,
                                             const ExportOptions& options, Operator& op) {
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

        std::optional<IndexWriter> indexWriter;
        try {
            AdsTable6.AdsCreateIndex61("", "ID", "ID", "", "", ADS_COMPOUND);

            // The upload file is written from the staged records as they
            // are made, and the staging table beside it: neither is held
            // whole. The layout and the place of the file are known first.
            bool writing = false;
            int written = -1;
            if (count > 0) {
                lastFailure_ = applyLayout(CSVExport1, options.FileFormat);
                CSVExport1.OutputFile = options.UploadFile;
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
                // The staging table is whole on disk, its index included,
                // before the upload file replaces the previous one: the
                // upload file is the last thing a run puts in place.
                CSVExport1.BeforeReplace = [&] {
                    if (indexWriter) indexWriter->wait();
                    indexWriter.reset();
                    kes::StepTimer step("close staging table");
                    AdsTable6.Close();
                };
            }
            // However the run ends, the component lets go of this run and
            // of an unfinished file.
            struct Detached {
                TCSVExport& exporter;
                ~Detached() {
                    exporter.Abandon();
                    exporter.SetOperator(nullptr);
                    exporter.BeforeReplace = nullptr;
                }
            } detached{CSVExport1};
            // A write error of the upload file (a full disk) leaves it not
            // prepared; the staging table is finished all the same.
            auto write = [&](auto&& action) {
                if (!writing) return;
                try {
                    action();
                } catch (const EADSDatabaseError&) {
                    throw;
                } catch (const std::exception& e) {
                    lastFailure_ = e.what();
                    written = -1;
                    writing = false;
                    CSVExport1.Abandon();
                }
            };
            if (count > 0 && lastFailure_.empty()) {
                kes::StepTimer step("writing");
                writing = true;
                write([&] {
                    if (!CSVExport1.Begin(count)) writing = false;
                });
            }

            {
                kes::StepTimer step("staging");
                ControlsDisabled quiet(workTable);
                Stager stager(workTable, AdsTable6, options);
                const size_t length = AdsTable6.File().recordLength();
                // A pending change of the work table is stored first, and a
                // row that is no record of it is an error, as a visit to the
                // row would have it.
                if (count > 0 && (workTable.State() == dsEdit || workTable.State() == dsInsert))
                    workTable.Post();
                // Most of the work table is about to be read out of order.
                if (count > 0 && static_cast<uint32_t>(count) >= workTable.File().recordCount() / 4)
                    workTable.File().prepareForScatteredReading();
                auto stageRows = [&](Stager& s, char* area, int first, int from, int to,
                                     bool report) {
                    for (int row = from; row < to; ++row) {
                        if (report) op.SetProgress(row);
                        if (row + 8 < to)
                            workTable.Prefetch(selected[static_cast<size_t>(row + 8)]);
                        s.stage(selected[static_cast<size_t>(row)].recno,
                                area + static_cast<size_t>(row - first) * length);
                    }
                };
                // A long slice is staged in two halves side by side: the rows
                // wait mostly for the work table's records to come from
                // memory, and two of them overlap their waits. The second half
                // has its own stager (with its own remembered dates).
                constexpr int kSlice = 1 << 14;
                constexpr int kHalves = 1024;
                Stager second = stager;
                if (count > 0) AdsTable6.StartAppendingThrough(static_cast<size_t>(count));
                std::vector<char> slice(static_cast<size_t>(std::min(count, kSlice)) * length);
                for (int first = 0; first < count; first += kSlice) {
                    const int end = std::min(count, first + kSlice);
                    // A row that is no record of the work table is an error,
                    // as a visit to the row would have it.
                    for (int row = first; row < end; ++row)
                        if (!workTable.BookmarkValid(selected[static_cast<size_t>(row)])) {
                            op.SetProgress(row);
                            workTable.GotoBookmark(selected[static_cast<size_t>(row)]);
                        }
                    recordsStaged = true;
                    char* area = slice.data();
                    if (end - first < kHalves) {
                        stageRows(stager, area, first, first, end, true);
                    } else {
                        const int middle = first + (end - first) / 2;
                        kes::runBoth([&] { stageRows(stager, area, first, first, middle, true); },
                                     [&] { stageRows(second, area, first, middle, end, false); });
                    }
                    AdsTable6.AppendThrough(area, static_cast<size_t>(end - first));
                    write([&] { CSVExport1.ExportRecords(area, static_cast<size_t>(end - first)); });
                }
                // The work table's cursor ends on the last row staged.
                if (count > 0) workTable.GotoBookmark(selected.back());
            }

            // The staging table's index is built and written while the upload
            // file is finished.
            if (recordsStaged) indexWriter.emplace(AdsTable6);

            if (writing) {
                kes::StepTimer step("writing");
                write([&] { written = CSVExport1.Finish(); });
            }
            if (recordsStaged) {
                // Only a file that holds every staged row counts as prepared.
                filePrepared = written >= 0 && written == count && CSVExport1.SkippedCount() == 0;
                if (written < 0 && lastFailure_.empty())
                    lastFailure_ = CSVExport1.OpenFailure().empty()
                                       ? "Unable to create " + CSVExport1.OutputFile
                                       : CSVExport1.OpenFailure();
                else if (written >= 0 && !filePrepared)
                    lastFailure_ = "Only " + std::to_string(written - CSVExport1.SkippedCount()) +
                                   " of " + std::to_string(count) + " records were written";
            }
        } catch (...) {
            indexWriter.reset(); // its error, if any, comes second
            AdsTable6.Close();
            throw;
        }
        {
            kes::StepTimer step("close staging table");
            std::exception_ptr indexError;
            try {
                if (indexWriter) indexWriter->wait();
            } catch (...) {
                indexError = std::current_exception();
            }
            indexWriter.reset();
            if (indexError) {
                try {
                    AdsTable6.Close();
                } catch (...) {
                    // the index's own error is the one to report
                }
                std::rethrow_exception(indexError);
            }
            AdsTable6.Close();
        }
        op.SetProgress(0);
    }

    if (filePrepared) return ExportOutcome::Prepared;
    if (recordsStaged) return ExportOutcome::NotPrepared;
    return ExportOutcome::NoData;
}
