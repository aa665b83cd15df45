#include "settings/core/CodeTables.h"

#include "common/Operator.h"
#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "common/Text.h"
#include "data/AdsTable.h"
#include "data/OpenTableWithRetry.h"
#include "os/Os.h"
#include "settings/core/CodeFiles.h"

#include <cctype>
#include <string>

namespace {

const CodeTableDesign kPlacement = {
    "KESPLACE",
    "CODE,     C, 4,0;INCLUDE,  L, 1,0;NEWCODE,  C, 4,0;MESSAGE,  C, 110,0;",
    "MESSAGE",
    110,
    "LEVELS",
    "This routine rebuilds the Placement Code Table based\r\n"
    "on the placement levels in the selected testing period.\r\n"
    "Is this what you want to do?",
};

const CodeTableDesign kTestScore = {
    "KESTEST",
    "CODE,     C, 4,0;INCLUDE,  L, 1,0;NEWCODE,  C, 4,0;TEST,     C, 22,0;",
    "TEST",
    22,
    "TEST",
    "This routine rebuilds the Test/Score Code Table based\r\n"
    "on the Test/Scores in the selected testing period.\r\n"
    "Is this what you want to do?",
};

// The first `count` characters of a UTF-8 text.
std::string firstCharacters(std::string_view text, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) == 0x80) continue; // inside a character
        if (seen == count) return std::string(text.substr(0, i));
        ++seen;
    }
    return std::string(text);
}

void postPending(TAdsTable& table) {
    if (table.Active() && (table.State() == dsEdit || table.State() == dsInsert)) table.Post();
}

void closeQuietly(TAdsTable& table) {
    try {
        table.Cancel();
        if (table.Active()) table.SetIndexName("");
        table.Close();
    } catch (...) {
        // already failing; the first error is the one the caller hears of
    }
}

// Runs `body`, then gives bound views their updates back, also on an error.
template <class Body> void withControlsDisabled(TAdsTable& table, Body&& body) {
    table.DisableControls();
    try {
        body();
    } catch (...) {
        table.EnableControls();
        throw;
    }
    table.EnableControls();
}

// Runs `body`, whose many row changes of `table` then reach the disk
// together, in one flush, instead of one flush for each row.
template <class Body> void changingManyRows(TAdsTable& table, Body&& body) {
    const bool writeThrough = table.WriteThrough;
    table.WriteThrough = false;
    try {
        body();
    } catch (...) {
        table.WriteThrough = writeThrough;
        throw;
    }
    table.WriteThrough = writeThrough;
    if (writeThrough && table.Active()) table.SaveToDisk();
}

std::string fileIn(const std::string& dataDir, const char* name, const char* extension) {
    return dataDir + name + extension;
}

} // namespace

const CodeTableDesign& CodeTableDesignOf(CodeTableKind kind) {
    return kind == CodeTableKind::Placement ? kPlacement : kTestScore;
}

std::string PlacementMessage(std::string_view placement, std::string_view comment) {
    std::string message(kes::trimRight(placement));
    message += ' ';
    message += kes::trimRight(comment);
    return firstCharacters(message, static_cast<size_t>(kPlacement.textWidth));
}

std::string TestScoreName(std::string_view code, std::string_view test, std::string_view form) {
    std::string name(kes::trimRight(test));
    // Scores (codes with a capital S) have no form; a lower-case s is a test.
    if (code.empty() || code.front() != 'S') {
        name += ' ';
        name += kes::trimRight(form);
    }
    return firstCharacters(name, static_cast<size_t>(kTestScore.textWidth));
}

int PeriodNumberOfEntry(std::string_view entry) {
    int number = 0;
    for (char c : entry) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        number = number * 10 + (c - '0');
        if (number > 1000000) return 0;
    }
    return number;
}

std::unique_ptr<PreparationLock> HoldCodeTables(const std::string& dataDir) {
    if (kes::os::fileKind(dataDir) != kes::os::FileKind::Directory) return nullptr;
    try {
        return std::make_unique<PreparationLock>(dataDir);
    } catch (const EPreparationBusy&) {
        throw EPreparationBusy(
            "The code tables cannot be changed while a preparation is running on the data "
            "folder " +
            dataDir + ". Try again when it has finished.");
    }
}

bool OpenCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, Operator& op) {
    const CodeTableDesign& design = CodeTableDesignOf(kind);
    postPending(table);
    table.Close();
    table.DatabaseName = dataDir;
    table.TableType = ttAdsCDX;
    table.Exclusive = false;
    // An edited row is on the disk, with its index, before the edit is done.
    table.WriteThrough = true;
    table.SetTableName(design.tableName);

    if (!kes::fileExists(fileIn(dataDir, design.tableName, ".dbf"))) {
        const auto held = HoldCodeTables(dataDir);
        // An index without its table belongs to a table that is gone.
        DeleteEverySpelling(fileIn(dataDir, design.tableName, ".cdx"));
        TAdsTable::AdsCreateTable(fileIn(dataDir, design.tableName, ".dbf"), ttAdsCDX, OEM, 0,
                                  design.fieldList);
        if (!OpenTableWithRetry(table, op)) return false;
        try {
            table.AdsCreateIndex61("", kCodeTag, kCodeTag, "", "", ADS_COMPOUND);
        } catch (...) {
            closeQuietly(table);
            throw;
        }
        table.Close();
    }

    if (!OpenTableWithRetry(table, op)) return false;
    if (kes::fileExists(fileIn(dataDir, design.tableName, ".cdx"))) table.SetIndexName(kCodeTag);
    table.First();
    return true;
}

bool FillCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, int period,
                   Operator& op) {
    const CodeTableDesign& design = CodeTableDesignOf(kind);
    const auto held = HoldCodeTables(table.DatabaseName);
    TAdsTable source;
    source.DatabaseName = dataDir + "VIRNTP" + std::to_string(period) + PathDelim;
    source.TableType = ttAdsNTX;
    source.SetTableName(design.sourceTable);
    if (!OpenTableWithRetry(source, op)) return false;
    try {
        TField& code = source.FieldByName("Code");
        TField& first = source.FieldByName(kind == CodeTableKind::Placement ? "Placement" : "Test");
        TField& second = source.FieldByName(kind == CodeTableKind::Placement ? "Comment" : "Form");
        changingManyRows(table, [&] {
            for (source.First(); !source.Eof(); source.Next()) {
                const std::string sourceCode = code.AsString();
                table.Append();
                table.FieldByName("Code").SetAsString(sourceCode);
                table.FieldByName("Include").SetAsBoolean(false);
                table.FieldByName("NewCode").SetAsString(sourceCode);
                table.FieldByName(design.textField)
                    .SetAsString(
                        kind == CodeTableKind::Placement
                            ? PlacementMessage(first.AsString(), second.AsString())
                            : TestScoreName(sourceCode, first.AsString(), second.AsString()));
                table.Post();
            }
        });
    } catch (...) {
        table.Cancel();
        closeQuietly(source);
        throw;
    }
    source.Close();
    return true;
}

namespace {

// Moves the table's .cdx and then its .dbf to KESTEMP. On failure everything
// moved so far is put back and the error text returned; when even that fails,
// the text says where the files are.
std::string moveAside(const std::string& dataDir, const CodeTableDesign& design) {
    const std::string tableFile = std::string(design.tableName) + ".DBF";
    const std::string indexFile = std::string(design.tableName) + ".CDX";
    const std::string cdx = kes::resolveCaseInsensitive(dataDir + indexFile);
    const std::string dbf = kes::resolveCaseInsensitive(dataDir + tableFile);
    const std::string tempCdx = kes::resolveForWriting(fileIn(dataDir, kPreviousCodeTable, ".CDX"));
    const std::string tempDbf = kes::resolveForWriting(fileIn(dataDir, kPreviousCodeTable, ".DBF"));

    bool cdxMoved = false;
    if (!cdx.empty() && kes::fileExists(cdx)) {
        std::string error = RenameCodeFile(cdx, tempCdx);
        if (!error.empty())
            return indexFile + " could not be renamed to " + kPreviousCodeTable + ".CDX (" + error +
                   ")";
        cdxMoved = true;
    }
    std::string error = dbf.empty() ? "it does not exist" : RenameCodeFile(dbf, tempDbf);
    if (error.empty() && kes::fileExists(dataDir + tableFile)) {
        // A second file of the table's name in another letter case is still
        // there; the new table would be appended to it.
        error = "another " + tableFile + " in other letters is still there";
        RenameCodeFile(tempDbf, dbf);
    } else if (!error.empty()) {
        error =
            tableFile + " could not be renamed to " + kPreviousCodeTable + ".DBF (" + error + ")";
    }
    if (error.empty()) return {};
    if (cdxMoved && !RenameCodeFile(tempCdx, cdx).empty())
        error += "; its index file is now " + tempCdx;
    return error;
}

void carryOver(TAdsTable& table, const std::string& dataDir, Operator& op, bool& gaveUp) {
    TAdsTable previous;
    previous.DatabaseName = dataDir;
    previous.TableType = ttAdsCDX;
    previous.SetTableName(kPreviousCodeTable);
    if (!OpenTableWithRetry(previous, op)) {
        gaveUp = true;
        return;
    }
    try {
        // A previous table that had lost its index gets it back.
        bool tagged = false;
        for (const std::string& name : previous.IndexNames())
            if (kes::equalsIgnoreCase(name, kCodeTag)) tagged = true;
        if (!tagged) previous.AdsCreateIndex61("", kCodeTag, kCodeTag, "", "", ADS_COMPOUND);
        previous.SetIndexName(kCodeTag);
        TField& previousInclude = previous.FieldByName("Include");
        TField& previousNewCode = previous.FieldByName("NewCode");
        changingManyRows(table, [&] {
            withControlsDisabled(table, [&] {
                for (table.First(); !table.Eof(); table.Next()) {
                    if (!previous.FindKey(table.FieldByName("Code").AsString())) continue;
                    table.Edit();
                    table.FieldByName("NewCode").SetAsString(previousNewCode.AsString());
                    table.FieldByName("Include").SetAsBoolean(previousInclude.AsBoolean());
                    table.Post();
                }
            });
        });
        table.First();
    } catch (...) {
        closeQuietly(previous);
        throw;
    }
    previous.SetIndexName("");
    previous.Close();
}

} // namespace

RebuildResult RebuildCodeTable(TAdsTable& table, CodeTableKind kind, const std::string& dataDir,
                               int period, Operator& op) {
    const CodeTableDesign& design = CodeTableDesignOf(kind);
    // Asked only when the rebuild can go through to its end.
    const auto held = HoldCodeTables(dataDir);
    if (!table.Active() && !OpenCodeTable(table, kind, dataDir, op)) return RebuildResult::GaveUp;
    postPending(table);

    if (table.RecordCount() == 0) {
        if (!FillCodeTable(table, kind, dataDir, period, op)) return RebuildResult::GaveUp;
        table.First();
        return RebuildResult::Filled;
    }
    if (!op.Confirm(design.confirmation)) return RebuildResult::Declined;

    postPending(table);
    table.SetIndexName("");
    table.Close();
    DeleteEverySpelling(fileIn(dataDir, kPreviousCodeTable, ".cdx"));
    DeleteEverySpelling(fileIn(dataDir, kPreviousCodeTable, ".dbf"));

    const std::string error = moveAside(dataDir, design);
    if (!error.empty()) {
        // The table the operator had is still in place: show it again.
        if (kes::fileExists(fileIn(dataDir, design.tableName, ".dbf")))
            OpenCodeTable(table, kind, dataDir, op);
        throw CodeTableError("The code table " + std::string(design.tableName) +
                             " was not rebuilt: " + error +
                             ". Close any program that uses it and try again; the table is "
                             "unchanged.");
    }

    if (!OpenCodeTable(table, kind, dataDir, op)) return RebuildResult::GaveUp;
    if (!FillCodeTable(table, kind, dataDir, period, op)) return RebuildResult::GaveUp;
    bool gaveUp = false;
    carryOver(table, dataDir, op, gaveUp);
    return gaveUp ? RebuildResult::GaveUp : RebuildResult::Rebuilt;
}

void SetIncludeOnEveryRow(TAdsTable& table, bool include) {
    if (!table.Active()) return;
    const auto held = HoldCodeTables(table.DatabaseName);
    postPending(table);
    TBookmark here = table.GetBookmark();
    changingManyRows(table, [&] {
        withControlsDisabled(table, [&] {
            try {
                TField& field = table.FieldByName("Include");
                for (table.First(); !table.Eof(); table.Next()) {
                    table.Edit();
                    field.SetAsBoolean(include);
                    table.Post();
                }
                if (here.valid()) table.GotoBookmark(here);
            } catch (...) {
                table.Cancel();
                table.FreeBookmark(here);
                throw;
            }
            table.FreeBookmark(here);
        });
    });
}

bool DeleteCodeRow(TAdsTable& table, CodeTableKind kind, const std::string& dataDir, Operator& op) {
    if (!table.Active()) return true;
    if (table.State() == dsInsert) {
        table.Cancel();
        return true;
    }
    const auto held = HoldCodeTables(dataDir);
    table.Cancel();
    if (table.IsEmpty()) return true;
    // Where the row stands in the active order, to land on its successor.
    int position = 0;
    const uint32_t doomed = table.RecNo();
    withControlsDisabled(table, [&] {
        for (table.First(); !table.Eof() && table.RecNo() != doomed; table.Next())
            ++position;
    });
    table.Delete();

    const std::string order = table.IndexName();
    table.SetIndexName("");
    table.Close();
    table.Exclusive = true;
    bool opened = false;
    try {
        opened = OpenTableWithRetry(table, op);
        if (opened) {
            table.AdsPackTable();
            table.Close();
        }
    } catch (...) {
        closeQuietly(table);
        table.Exclusive = false;
        throw;
    }
    table.Exclusive = false;
    if (!opened) return false;
    if (!OpenCodeTable(table, kind, dataDir, op)) return false;
    if (order.empty()) table.SetIndexName("");
    withControlsDisabled(table, [&] {
        table.First();
        if (table.MoveBy(position) < position) table.Last();
    });
    return true;
}
