// TCSVExport: writes the records of a table to a text file, one line per record,
// as delimited values or as fixed-width columns, optionally with a header and a
// trailer line and a progress window. It works on any open or closed TAdsTable
// and knows nothing of the upload file: the caller sets the layout.
//
// No Qt here. The progress window is reached through TExportProgress, created by
// a factory that the owner installs; the one message the component shows
// ("Data conversion error!") goes through TExportMessages.
#pragma once

#include "common/CodePage.h"
#include "data/AdsTable.h"

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

// Modes and bases of a progress display.
inline constexpr int pmImport = 0;
inline constexpr int pmExport = 1;
inline constexpr int pbRecords = 0;
inline constexpr int pbBytes = 1;

// What the component needs of a progress window.
class TExportProgress {
  public:
    virtual ~TExportProgress() = default;
    virtual void Initialize(int mode, int basis, const std::string& fileName, int64_t totalRecords,
                            int64_t totalBytes) = 0;
    // Shows the window without making it modal.
    virtual void Show() = 0;
    // Shows the amounts done and repaints at once (no event loop runs meanwhile).
    virtual void UpdateProgress(int64_t recordsDone, int64_t bytesDone) = 0;
};

// Creates a progress window; may return null when there is nothing to show on.
using TExportProgressFactory = std::function<std::unique_ptr<TExportProgress>()>;

// The factory used by components that have none of their own (none by default:
// then ShowProgress shows nothing).
void SetDefaultExportProgressFactory(TExportProgressFactory factory);
const TExportProgressFactory& DefaultExportProgressFactory();

// How the component reports an error to the operator.
class TExportMessages {
  public:
    virtual ~TExportMessages() = default;
    // An error box with an OK button.
    virtual void ShowError(const std::string& text) = 0;
};

// The messages used by components that have none of their own; by default the
// text goes to standard error.
void SetDefaultExportMessages(TExportMessages* messages);
TExportMessages& DefaultExportMessages();

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
    // Progress window factory and message sink of this component; when empty
    // the defaults above are used.
    TExportProgressFactory ProgressFactory;
    TExportMessages* Messages = nullptr;

    // Writes DataSet to OutputFile. Returns the number of records processed, or
    // -1 when the output cannot be opened. Write errors (a full disk) throw
    // std::runtime_error.
    int Execute();

    // The line of the current record, as Execute writes it (without CR LF).
    std::string DelimitedLine();
    std::string FixedLine();
    bool FieldIncluded(const std::string& fieldName) const;

  private:
    struct Column;
    bool OpenOutput();
    void CloseOutput(bool complete);
    void prepareColumns();
    std::string renderLine(bool fixed);
    std::string valueText(const Column& column, bool fixed);
    void writeLine(const std::string& bytes);
    void flushBuffer();
    void failWrite();

    std::string customSeparator_;
    std::vector<std::string> fieldList_;
    int maxRecords_ = 0;

    // Export state.
    std::FILE* file_ = nullptr;
    std::string writePath_; // the file actually written (a temporary name or OutputFile)
    std::string buffer_;
    std::unique_ptr<TExportProgress> progress_;
    int64_t exportTotal_ = 0;
    int64_t exportedCount_ = 0;
    std::string delimiterText_;
    std::string separatorText_;
    std::vector<Column> columns_;
    bool columnsReady_ = false;
};
