// TCSVExport: writes the records of a table to a text file, one line per record,
// as delimited values or as fixed-width columns, optionally with a header and a
// trailer line and a progress window. It works on any open or closed TAdsTable
// and knows nothing of the upload file: the caller sets the layout.
//
// No Qt here. The progress window and the one message the component shows
// ("Data conversion error!") come from the Operator its owner gives it.
#pragma once

#include "common/CodePage.h"
#include "common/Operator.h"
#include "data/AdsTable.h"
#include "os/Os.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

enum TExportType { expDelimited, expFixed };
enum TFieldSeparator { fspPipe, fspTab, fspComma, fspCustom, fspNone };
enum TFieldDelimiter { fdlNone, fdlSingle, fdlDouble };
enum TDelimitedFields { dfAll, dfTextOnly };
enum TFieldListAction { flaNone, flaInclude, flaExclude };
enum TNumericAlign { naLeft, naRight };

// A value that cannot be converted. Execute catches it, shows
// "Data conversion error!" and returns the result it held at that moment.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TCSVExport;
using TExportEvent = std::function<void(TCSVExport& sender, int64_t records, int64_t bytes)>;
using TNotifyEvent = std::function<void(TCSVExport& sender)>;

class TCSVExport {
  public:
    TCSVExport();
    ~TCSVExport();
    TCSVExport(const TCSVExport&) = delete;
    TCSVExport& operator=(const TCSVExport&) = delete;

    // The usual component name and tag.
    std::string Name;
    int Tag = 0;

    // Separator of fspCustom and fspNone. Trimmed of blanks and control
    // characters at both ends and reduced to its first character.
    const std::string& CustomSeparator() const { return customSeparator_; }
    void SetCustomSeparator(const std::string& value);

    TAdsTable* DataSet = nullptr;
    TDelimitedFields DelimitedFields = dfAll;
    TExportType ExportType = expDelimited;
    TFieldDelimiter FieldDelimiter = fdlNone;

    // Field names for FieldListAction; assignment copies the lines.
    const std::vector<std::string>& FieldList() const { return fieldList_; }
    void SetFieldList(const std::vector<std::string>& names) { fieldList_ = names; }

    TFieldListAction FieldListAction = flaNone;
    TFieldSeparator FieldSeparator = fspPipe;
    std::string Header;
    bool HeaderRecord = false;

    // 0: all records; a negative value is stored as 0.
    int MaxRecords() const { return maxRecords_; }
    void SetMaxRecords(int value) { maxRecords_ = value < 0 ? 0 : value; }

    TNumericAlign NumericAlign = naLeft;
    std::string OutputFile;
    bool ShowProgress = false;
    std::string Trailer;
    bool TrailerRecord = false;
    // Dates as "yyyymmdd", Booleans as their first character.
    bool DBaseFormat = false;
    static const char* Version() { return "1.2"; }

    TExportEvent OnExportRecord;
    TNotifyEvent OnBeginExport;
    TNotifyEvent OnFinishExport;

    // Beyond the classic component:
    // The code page of the file: text is written one byte per character.
    kes::CodePage OutputCodePage = kes::CodePage::Windows1252;
    // When set, the file is written under a temporary name beside OutputFile,
    // flushed to disk and renamed over OutputFile only when it is complete;
    // after any failure the previous file of that name is left as it was.
    bool ReplaceWhenComplete = false;
    // With ReplaceWhenComplete: runs once the new file is written whole and
    // before it replaces OutputFile, for work that must be done before the
    // file counts as prepared; an exception from it leaves the previous file.
    std::function<void()> BeforeReplace;
    // Where the progress window and the message come from; the owner sets it.
    // Without one the component shows neither (Execute's result still tells).
    Operator* GetOperator() const { return operator_; }
    void SetOperator(Operator* op) { operator_ = op; }

    // Writes DataSet to OutputFile. Returns the number of records processed, or
    // -1 when the output cannot be opened (OpenFailure() then says why).
    // Write errors (a full disk) throw std::runtime_error.
    int Execute();
    // Why the last Execute could not open its output, with the system's
    // reason ("Unable to create <file>: access denied"); "" when it could.
    const std::string& OpenFailure() const { return openFailure_; }

    // Execute in pieces, for records that pass by once and are not held by
    // DataSet, which gives only the fields and where they lie in a record.
    // Begin opens the output for `total` records (false when it cannot be
    // opened: Execute's -1); each ExportRecords writes the lines of `count`
    // records laid out as DataSet's records are, one after another; Finish
    // completes the file as Execute does and gives its result. Every field
    // written must be a text field. Abandon, and any error on the way,
    // drops the unfinished output (with ReplaceWhenComplete the previous
    // file stays).
    bool Begin(int64_t total);
    void ExportRecords(const char* records, size_t count);
    int Finish();
    void Abandon();

    // Records of the last Execute that could not be rendered and so have no
    // line in the file (they still count in its result).
    int64_t SkippedCount() const { return skippedCount_; }

    // The line of the current record, as Execute writes it (without CR LF).
    // A value never breaks the layout: in delimited lines its CR, LF and the
    // separator become blanks and an enclosing quote character inside it is
    // doubled; in fixed lines CR and LF become blanks.
    std::string DelimitedLine();
    std::string FixedLine();
    bool FieldIncluded(const std::string& fieldName) const;

  private:
    struct Column;
    // Fixed lines of text columns as wide as their fields, with nothing
    // between the columns: neighbouring fields make one run of bytes that
    // goes across through one table.
    struct FixedRun {
        size_t offset = 0; // in the record
        size_t length = 0;
        const std::array<char, 256>* table = nullptr;
    };
    bool OpenOutput();
    void CloseOutput(bool complete);
    void prepareColumns();
    void prepareFixedRuns();
    // Appends the current record's line to `line`; false (and `line` as it
    // was) when it cannot be rendered.
    bool renderLine(bool fixed, std::string& line);
    // The same for a record's bytes given.
    bool renderLine(bool fixed, std::string_view record, std::string& line);
    bool openOutput(int64_t total);
    // The line of one record and the counting and progress that follow it.
    void exportLine(bool fixed, std::string_view record, int64_t& bytes);
    std::string valueText(const Column& column, bool fixed);
    void appendText(const Column& column, std::string_view stored, bool fixed,
                    std::string& line) const;
    void containValue(std::string& value, bool fixed, bool enclosed) const;
    void writeLine(const std::string& bytes);
    void flushBuffer();
    kes::os::Status writeOut(const std::string& bytes);
    void failWrite(const kes::os::Status& status);

    std::string customSeparator_;
    std::vector<std::string> fieldList_;
    int maxRecords_ = 0;
    Operator* operator_ = nullptr;
    std::string openFailure_;

    // Export state.
    // The output: with ReplaceWhenComplete a replacement of OutputFile,
    // otherwise OutputFile itself.
    bool outputOpen_ = false;
    kes::os::ReplacingWriter replacement_;
    kes::os::File direct_;
    uint64_t directWritten_ = 0;
    std::string buffer_;
    std::unique_ptr<TExportProgress> progress_;
    int64_t exportTotal_ = 0;
    int64_t exportedCount_ = 0;
    int64_t skippedCount_ = 0;
    std::string delimiterText_;
    std::string separatorText_;
    std::vector<Column> columns_;
    // Empty when a fixed line needs the columns one by one.
    std::vector<FixedRun> fixedRuns_;
    bool columnsReady_ = false;
    // Between Begin and Finish: the line bytes written so far.
    int64_t streamedBytes_ = 0;
};
