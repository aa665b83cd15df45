#include "app/core/Settings.h"

#include "app/core/IniFile.h"
#include "common/Paths.h"
#include "common/Text.h"

namespace keys = settings_keys;

int SearchItemFromSetting(int stored) {
    if (stored > 1) return 1;
    if (stored < 0) return -1;
    return stored;
}

SettingsValues ReadSettings(const std::string& settingsFile) {
    const TIniFile ini(settingsFile);
    SettingsValues s;
    s.DataDir =
        NormalizePath(ini.ReadString(keys::Directories, keys::OrvaPath, kes::defaultDataDir()));
    s.SavedPeriod = ini.ReadString(keys::TestingPeriods, keys::OrvaFrom, "");

    s.SearchItem = SearchItemFromSetting(ini.ReadInteger(keys::OrvaExport, keys::Search, 0));
    s.SelectedDates = ini.ReadBool(keys::OrvaExport, keys::SelectedDates, false);
    const kes::Date today = kes::Date::today();
    const std::string todayText = today.toShortText();
    const auto begin =
        kes::Date::fromShortText(ini.ReadString(keys::OrvaExport, keys::BeginDate, todayText));
    const auto end =
        kes::Date::fromShortText(ini.ReadString(keys::OrvaExport, keys::EndDate, todayText));
    s.BeginDate = begin && end ? *begin : today;
    s.EndDate = begin && end ? *end : today;
    s.Kinds.Placement = ini.ReadBool(keys::OrvaExport, keys::IncludePlacement, true);
    s.Kinds.Assessment = ini.ReadBool(keys::OrvaExport, keys::IncludeAssessment, true);
    s.Kinds.Scores = ini.ReadBool(keys::OrvaExport, keys::IncludeScores, true);
    s.Fields.PandA = ini.ReadBool(keys::OrvaExport, keys::IncludePandA, false);
    s.Fields.Attempted = ini.ReadBool(keys::OrvaExport, keys::IncludeAttempted, false);
    s.Fields.Subscores = ini.ReadBool(keys::OrvaExport, keys::IncludeSubscores, false);
    s.Fields.SiteCode = ini.ReadBool(keys::OrvaExport, keys::IncludeSiteCode, false);
    s.FileFormat = ini.ReadInteger(keys::OrvaExport, keys::FileFormat, 0);
    // A text that reads as the default whatever the default is is no number.
    const std::string storedFormat = ini.ReadString(keys::OrvaExport, keys::FileFormat, "");
    const std::string formatText(kes::trimBlanksAndControls(storedFormat));
    if (!formatText.empty() && s.FileFormat == 0 &&
        ini.ReadInteger(keys::OrvaExport, keys::FileFormat, -1) == -1)
        s.FileFormatUnreadable = formatText;
    s.ExportFileName = ini.ReadString(keys::OrvaExport, keys::Filename, "");

    s.AutoFileName = ini.ReadString(keys::OrvaAutoExport, keys::Filename, "");
    s.AutoTime = ini.ReadInteger(keys::OrvaAutoExport, keys::Time, -1);
    s.AutoDate = ini.ReadInteger(keys::OrvaAutoExport, keys::Date, 0);
    s.HistoryLastSeen = ini.ReadString(keys::History, keys::LastSeen, "");
    return s;
}

void SaveClosingSettings(const std::string& settingsFile, const ClosingSettings& values) {
    TIniFile ini(settingsFile);
    if (values.PeriodNumber)
        ini.WriteString(keys::TestingPeriods, keys::OrvaFrom, *values.PeriodNumber);
    ini.WriteInteger(keys::OrvaExport, keys::Search, values.SearchItem);
    ini.WriteBool(keys::OrvaExport, keys::SelectedDates, values.SelectedDates);
    ini.WriteString(keys::OrvaExport, keys::BeginDate, values.BeginDate.toShortText());
    ini.WriteString(keys::OrvaExport, keys::EndDate, values.EndDate.toShortText());
}

void SaveDialogSettings(const std::string& settingsFile, const std::string& dataDir,
                        const RecordKinds& kinds, int fileFormat, const OptionalFields& fields) {
    TIniFile ini(settingsFile);
    ini.WriteString(keys::Directories, keys::OrvaPath, dataDir);
    ini.WriteString(keys::OrvaExport, keys::OrvaPath, dataDir);
    ini.WriteBool(keys::OrvaExport, keys::IncludePlacement, kinds.Placement);
    ini.WriteBool(keys::OrvaExport, keys::IncludeAssessment, kinds.Assessment);
    ini.WriteBool(keys::OrvaExport, keys::IncludeScores, kinds.Scores);
    ini.WriteInteger(keys::OrvaExport, keys::FileFormat, fileFormat);
    ini.WriteBool(keys::OrvaExport, keys::IncludePandA, fields.PandA);
    ini.WriteBool(keys::OrvaExport, keys::IncludeAttempted, fields.Attempted);
    ini.WriteBool(keys::OrvaExport, keys::IncludeSubscores, fields.Subscores);
    ini.WriteBool(keys::OrvaExport, keys::IncludeSiteCode, fields.SiteCode);
}

void SaveAutoExportSettings(const std::string& settingsFile, const std::string& fileName, int time,
                            int date) {
    TIniFile ini(settingsFile);
    ini.WriteString(keys::OrvaAutoExport, keys::Filename, fileName);
    ini.WriteInteger(keys::OrvaAutoExport, keys::Time, time);
    ini.WriteInteger(keys::OrvaAutoExport, keys::Date, date);
}

void SaveExportFileName(const std::string& settingsFile, const std::string& fileName) {
    TIniFile(settingsFile).WriteString(keys::OrvaExport, keys::Filename, fileName);
}

void SaveHistoryLastSeen(const std::string& settingsFile, const std::string& ended) {
    TIniFile(settingsFile).WriteString(keys::History, keys::LastSeen, ended);
}
