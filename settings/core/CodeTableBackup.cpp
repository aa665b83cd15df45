#include "settings/core/CodeTableBackup.h"

#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "common/Text.h"
#include "os/Os.h"
#include "settings/core/CodeFiles.h"
#include "settings/core/CodeTables.h"

#include <exception>
#include <sstream>

namespace {

constexpr const char* kMarkHeading = "KesPrep settings dialog session";

// The file name of a path, without its folder.
std::string nameOf(const std::string& path) {
    return kes::fileNameOf(path);
}

// The mark's text: a heading, then one line for each code table file:
// "KESPLACE.DBF|1|1|KESPLACE.dbf" (existed, backed up, its spelling).
std::string markText(const CodeTableBackup& backup) {
    std::string text = std::string(kMarkHeading) + "\r\n";
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i)
        text += std::string(kCodeTableFiles[i].file) + "|" + (backup.existed[i] ? "1" : "0") + "|" +
                (backup.backedUp[i] ? "1" : "0") + "|" + nameOf(backup.spelling[i]) + "\r\n";
    return text;
}

// The backup a mark names; false when the text is not a whole mark.
bool parseMark(const std::string& text, const std::string& dataDir, CodeTableBackup& backup) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || kes::trimBlanksAndControls(line) != kMarkHeading) return false;
    backup = CodeTableBackup{};
    backup.dataDir = dataDir;
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i) {
        if (!std::getline(in, line)) return false;
        line = std::string(kes::trimBlanksAndControls(line));
        std::vector<std::string> parts;
        size_t from = 0;
        for (size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
            parts.push_back(line.substr(from, bar - from));
        parts.push_back(line.substr(from));
        if (parts.size() != 4 || parts[0] != kCodeTableFiles[i].file ||
            (parts[1] != "0" && parts[1] != "1") || (parts[2] != "0" && parts[2] != "1") ||
            parts[3].find_first_of("/\\") != std::string::npos)
            return false;
        backup.existed[i] = parts[1] == "1";
        backup.backedUp[i] = parts[2] == "1";
        if (backup.backedUp[i] && parts[3].empty()) return false;
        backup.spelling[i] = parts[3].empty() ? std::string() : dataDir + parts[3];
    }
    return true;
}

// What a mark that cannot be read stands for: every backup that is there
// was made of a file that was there (under its own name, or the name it has
// now).
CodeTableBackup backupsThatAreThere(const std::string& dataDir) {
    CodeTableBackup backup;
    backup.dataDir = dataDir;
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i) {
        backup.backedUp[i] = kes::fileExists(dataDir + kCodeTableFiles[i].backup);
        backup.existed[i] = backup.backedUp[i];
        const std::string now = kes::resolveCaseInsensitive(dataDir + kCodeTableFiles[i].file);
        backup.spelling[i] = now.empty() ? dataDir + kCodeTableFiles[i].file : now;
    }
    return backup;
}

} // namespace

CodeTableBackup BackUpCodeTables(const std::string& dataDir) {
    const auto held = HoldCodeTables(dataDir);
    CodeTableBackup backup;
    backup.dataDir = dataDir;
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i) {
        const std::string file = dataDir + kCodeTableFiles[i].file;
        backup.existed[i] = kes::fileExists(file);
        if (!backup.existed[i]) continue;
        backup.spelling[i] = kes::resolveCaseInsensitive(file);
        backup.failure[i] = CopyCodeFileReplacing(file, dataDir + kCodeTableFiles[i].backup);
        backup.backedUp[i] = backup.failure[i].empty();
    }
    return backup;
}

std::vector<std::string> PutCodeTablesBack(const CodeTableBackup& backup) {
    const auto held = HoldCodeTables(backup.dataDir);
    std::vector<std::string> problems;
    const std::string& dir = backup.dataDir;
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i) {
        const std::string file = dir + kCodeTableFiles[i].file;
        const std::string copy = dir + kCodeTableFiles[i].backup;
        if (backup.backedUp[i]) {
            const std::string now = kes::resolveCaseInsensitive(file);
            const std::string error = CopyCodeFileToExactName(copy, backup.spelling[i]);
            if (!error.empty()) {
                problems.push_back(file + " could not be put back (" + error +
                                   "); its copy is kept as " + copy);
                continue;
            }
            if (!now.empty() && now != backup.spelling[i]) kes::deleteFile(now);
        } else if (backup.existed[i]) {
            problems.push_back(file + " could not be put back: it could not be copied when "
                                      "the dialog opened");
        } else {
            DeleteEverySpelling(file);
            if (kes::fileExists(file))
                problems.push_back(file + " was made in the dialog and could not be deleted");
        }
    }
    return problems;
}

void RemoveCodeTableBackups(const std::string& dataDir) {
    const auto held = HoldCodeTables(dataDir);
    for (const CodeTableFile& f : kCodeTableFiles)
        DeleteEverySpelling(dataDir + f.backup);
}

std::vector<std::string> RestoreCodeTables(const CodeTableBackup& backup) {
    std::vector<std::string> problems = PutCodeTablesBack(backup);
    if (problems.empty()) RemoveCodeTableBackups(backup.dataDir);
    return problems;
}

namespace {

// Puts the tables back; once they all are, the mark goes, and only then the
// copies: a stop in between leaves a mark with every copy it names.
std::vector<std::string> putBackAndUnmark(const CodeTableBackup& backup) {
    std::vector<std::string> problems = PutCodeTablesBack(backup);
    if (!problems.empty()) return problems;
    const std::string error = UnmarkCodeTableSession(backup.dataDir);
    if (!error.empty()) return {error};
    RemoveCodeTableBackups(backup.dataDir);
    return {};
}

} // namespace

std::string MarkCodeTableSession(const CodeTableBackup& backup) {
    const std::string mark = backup.dataDir + kSessionMark;
    kes::os::removeStaleReplacementTemporaries(mark);
    const kes::os::Status written = kes::os::writeFileReplacing(mark, markText(backup));
    return written.ok() ? std::string() : written.message();
}

std::string UnmarkCodeTableSession(const std::string& dataDir) {
    const std::string mark = kes::resolveCaseInsensitive(dataDir + kSessionMark);
    if (mark.empty() || kes::os::fileKind(mark) == kes::os::FileKind::Missing) return {};
    const kes::os::Status removed = kes::os::removeFile(mark);
    return removed.ok() ? std::string() : removed.message();
}

UnendedSession PutBackUnendedSession(const std::string& dataDir) {
    UnendedSession session;
    const std::string mark = kes::resolveCaseInsensitive(dataDir + kSessionMark);
    if (mark.empty() || !kes::fileExists(mark)) return session;
    session.found = true;
    std::string text;
    CodeTableBackup backup;
    if (!kes::os::readFile(mark, text).ok() || !parseMark(text, dataDir, backup))
        backup = backupsThatAreThere(dataDir);
    session.problems = putBackAndUnmark(backup);
    session.putBack = session.problems.empty();
    return session;
}

std::string UnendedSessionMessage(const UnendedSession& session, const std::string& dataDir) {
    if (!session.found) return {};
    const std::string opening = "The settings dialog that last changed the code tables of " +
                                dataDir + " did not close (the program stopped)";
    if (session.putBack)
        return opening + ": the code tables KESPLACE and KESTEST were put back as they were "
                         "before it opened.";
    std::string text = opening + ", and its code tables could not all be put back as they were "
                                 "before it opened:";
    for (const std::string& problem : session.problems)
        text += "\r\n" + problem;
    text += "\r\nNo preparation uses the code tables until they are back; the next one, or the "
            "settings dialog, tries again (the copies KESPLACx and KESTESTx and the mark " +
            std::string(kSessionMark) + " stay in the data folder until then).";
    return text;
}

CodeTableSession::CodeTableSession(const std::string& dataDir) {
    try {
        lock_ = HoldCodeTables(dataDir);
        // Without the folder there is nothing to guard, back up or mark.
        if (!lock_) {
            backup_ = BackUpCodeTables(dataDir);
            return;
        }
        const UnendedSession unended = PutBackUnendedSession(dataDir);
        if (!unended.problems.empty()) {
            refusal_ = UnendedSessionMessage(unended, dataDir);
        } else {
            notice_ = UnendedSessionMessage(unended, dataDir);
            backup_ = BackUpCodeTables(dataDir);
            for (size_t i = 0; i < kCodeTableFiles.size() && refusal_.empty(); ++i)
                if (backup_.existed[i] && !backup_.backedUp[i])
                    refusal_ = "The code tables cannot be changed now: " + dataDir +
                               kCodeTableFiles[i].file + " could not be copied aside (" +
                               backup_.failure[i] + "), so a Cancel could not put it back.";
            if (refusal_.empty()) {
                const std::string error = MarkCodeTableSession(backup_);
                if (!error.empty())
                    refusal_ = "The code tables cannot be changed now: the settings dialog "
                               "cannot mark them as being changed (" +
                               error + ").";
            }
        }
    } catch (const std::exception& e) {
        refusal_ = e.what();
    }
    if (!refusal_.empty()) lock_.reset();
}

CodeTableSession::~CodeTableSession() = default;

std::vector<std::string> CodeTableSession::restore() {
    if (!editable()) return {};
    return lock_ ? putBackAndUnmark(backup_) : RestoreCodeTables(backup_);
}

std::string CodeTableSession::keep() {
    if (!editable() || !lock_) return {};
    return UnmarkCodeTableSession(backup_.dataDir);
}
