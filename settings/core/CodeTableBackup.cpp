#include "settings/core/CodeTableBackup.h"

#include "common/Paths.h"
#include "common/PreparationLock.h"
#include "settings/core/CodeFiles.h"
#include "settings/core/CodeTables.h"

#include <exception>

CodeTableBackup BackUpCodeTables(const std::string& dataDir) {
    const auto held = HoldCodeTables(dataDir);
    CodeTableBackup backup;
    backup.dataDir = dataDir;
    for (size_t i = 0; i < kCodeTableFiles.size(); ++i) {
        const std::string file = dataDir + kCodeTableFiles[i].file;
        backup.existed[i] = kes::fileExists(file);
        if (!backup.existed[i]) continue;
        backup.spelling[i] = kes::resolveCaseInsensitive(file);
        backup.backedUp[i] =
            CopyCodeFileReplacing(file, dataDir + kCodeTableFiles[i].backup).empty();
    }
    return backup;
}

std::vector<std::string> RestoreCodeTables(const CodeTableBackup& backup) {
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
        DeleteEverySpelling(copy);
    }
    return problems;
}

CodeTableSession::CodeTableSession(const std::string& dataDir) {
    try {
        lock_ = HoldCodeTables(dataDir);
        backup_ = BackUpCodeTables(dataDir);
    } catch (const std::exception& e) {
        lock_.reset();
        refusal_ = e.what();
    }
}

CodeTableSession::~CodeTableSession() = default;

std::vector<std::string> CodeTableSession::restore() {
    if (!editable()) return {};
    return RestoreCodeTables(backup_);
}
