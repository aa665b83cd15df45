// The preparation history: one entry for every preparation, whichever front
// end ran it, in the file KESHIST.CSV of the data folder. A spreadsheet opens
// the file as it is: comma-separated values in UTF-8 (with a byte order mark,
// so that Excel reads names and paths right), a header line, then one line
// per entry, oldest first, each ended by CR LF.
//
// An entry is whole or absent: it is one line, written in one append and
// flushed; a line that a killed program left without its end is ignored by
// every reader and cut off by the next append. A Preparation appends while it
// holds the data folder's lock. The file keeps the newest kHistoryKeep
// entries: an append that takes it past kHistoryTrimAt writes it anew (through
// the replace routine, so a kill leaves the old file or the new one) with the
// newest kHistoryKeep alone. No Qt here.
#pragma once

#include "common/Clock.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kHistoryFileName = "KESHIST.CSV";
inline constexpr size_t kHistoryKeep = 1000;
inline constexpr size_t kHistoryTrimAt = 1100;
// A longer reason is cut here, so that no entry grows without bound.
inline constexpr size_t kHistoryReasonLimit = 1000;

// Who ran a preparation.
enum class PreparationFrontEnd {
    FindAndExport,     // the main window's Find, then Export in "Select Records"
    PrepareExportFile, // "Prepare Export File" in the automatic window
    TimedRun,          // the automatic window at its hour
    Batch,             // kesprep-batch
};
// "Find and Export", "Prepare Export File", "Timed Run", "kesprep-batch".
const char* FrontEndName(PreparationFrontEnd frontEnd);

enum class HistoryOutcome { Prepared, PreparedWithWarnings, NotPrepared };
// "Prepared", "Prepared with warnings", "Not prepared".
const char* OutcomeName(HistoryOutcome outcome);

struct HistoryEntry {
    std::string Started;  // local time, "yyyy-mm-dd hh:mm:ss"
    std::string Ended;    // the same
    std::string FrontEnd; // FrontEndName
    std::string User;
    std::string Period;    // the period's number
    std::string Set;       // "Temporary" or "Master"
    std::string BeginDate; // "yyyy-mm-dd"; both empty for all dates
    std::string EndDate;
    std::string Layout;         // "Fixed Format", ... or the stored number
    std::string OptionalFields; // "Attempted; Site Code", "" for none
    std::string Rows;           // records written
    std::string UploadFile;
    std::string Size;   // bytes, when the file was prepared
    std::string Sha256; // of the upload file, when prepared
    HistoryOutcome Outcome = HistoryOutcome::NotPrepared;
    std::string Reason; // why not prepared, or the warnings

    bool Failed() const { return Outcome == HistoryOutcome::NotPrepared; }
    bool operator==(const HistoryEntry&) const = default;
};

// "yyyy-mm-dd hh:mm:ss" of a moment; history times compare as texts.
std::string HistoryTime(const kes::LocalTime& time);

// The header line and an entry's line, both without their line end. Every
// line break or tab inside a value becomes a blank.
std::string HistoryHeaderLine();
std::string HistoryLine(const HistoryEntry& entry);
// An entry from its line; nullopt for a line that is no entry (the header, a
// line of the wrong number of values, an unknown outcome).
std::optional<HistoryEntry> ParseHistoryLine(std::string_view line);

// The history file of a data folder (ends in PathDelim), under the spelling
// found on disk.
std::string HistoryFilePath(const std::string& dataDir);

// Appends `entry` to the history of `dataDir`, trimming as described above.
// Returns "" when it was written, otherwise why not (the file and the
// system's reason); never throws for a file that cannot be written.
std::string AppendHistoryEntry(const std::string& dataDir, const HistoryEntry& entry);

// Every whole entry of the history of `dataDir`, oldest first; none when the
// file does not exist. `error` (when given) gets why a file that exists could
// not be read.
std::vector<HistoryEntry> ReadHistory(const std::string& dataDir, std::string* error = nullptr);

// The failure a person who was not there should hear of: the newest entry of
// a timed run or of kesprep-batch that ended after `lastSeen` (a HistoryTime;
// "" for never), when that entry is a failure.
std::optional<HistoryEntry> MissedFailure(const std::vector<HistoryEntry>& history,
                                          const std::string& lastSeen);
