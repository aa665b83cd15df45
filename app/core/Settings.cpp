#include "app/core/Settings.h"

#include "app/core/IniFile.h"
#include "common/Paths.h"

namespace keys = settings_keys;

int SearchItemFromSetting(int stored) {
    if (stored > 1) return 1;
    if (stored < 0) return -1;
    return stored;
}

StartupSettings LoadStartupSettings(const std::string& exeDir) {
    TIniFile ini(SettingsFilePath(exeDir));
    StartupSettings s;
    s.DataDir =
        NormalizePath(ini.ReadString(keys::Directories, keys::OrvaPath, kes::defaultDataDir()));
    s.SavedPeriod = ini.ReadString(keys::TestingPeriods, keys::OrvaFrom, "");
    s.SearchItem = SearchItemFromSetting(ini.ReadInteger(keys::OrvaExport, keys::Search, 0));
    s.SelectedDates = ini.ReadBool(keys::OrvaExport, keys::SelectedDates, false);
    s.IncludePlacement = ini.ReadBool(keys::OrvaExport, keys::IncludePlacement, true);
    s.IncludeAssessment = ini.ReadBool(keys::OrvaExport, keys::IncludeAssessment, true);
    s.IncludeScores = ini.ReadBool(keys::OrvaExport, keys::IncludeScores, true);
    s.IncludePandA = ini.ReadBool(keys::OrvaExport, keys::IncludePandA, false);
    s.IncludeAttempted = ini.ReadBool(keys::OrvaExport, keys::IncludeAttempted, false);
    s.IncludeSubscores = ini.ReadBool(keys::OrvaExport, keys::IncludeSubscores, false);
    s.IncludeSiteCode = ini.ReadBool(keys::OrvaExport, keys::IncludeSiteCode, false);
    s.FileFormat = ini.ReadInteger(keys::OrvaExport, keys::FileFormat, 0);
    if (s.SelectedDates) ReadRangeDates(ini, s.BeginDate, s.EndDate);
    return s;
}

void ReadRangeDates(const TIniFile& ini, kes::Date& begin, kes::Date& end) {
    const kes::Date today = kes::Date::today();
    const std::string todayText = today.toShortText();
    auto first =
        kes::Date::fromShortText(ini.ReadString(keys::OrvaExport, keys::BeginDate, todayText));
    auto last =
        kes::Date::fromShortText(ini.ReadString(keys::OrvaExport, keys::EndDate, todayText));
    begin = first && last ? *first : today;
    end = first && last ? *last : today;
}

void ApplyStartupSettings(const StartupSettings& loaded, ProgramState& state) {
    state.DataDir = loaded.DataDir;
    state.IncludePlacement = loaded.IncludePlacement;
    state.IncludeAssessment = loaded.IncludeAssessment;
    state.IncludeScores = loaded.IncludeScores;
    state.IncludePandA = loaded.IncludePandA;
    state.IncludeAttempted = loaded.IncludeAttempted;
    state.IncludeSubscores = loaded.IncludeSubscores;
    state.IncludeSiteCode = loaded.IncludeSiteCode;
    state.FileFormat = loaded.FileFormat;
}

void SaveClosingSettings(const std::string& exeDir, const ClosingSettings& values) {
    TIniFile ini(SettingsFilePath(exeDir));
    if (values.PeriodNumber)
        ini.WriteString(keys::TestingPeriods, keys::OrvaFrom, *values.PeriodNumber);
    ini.WriteInteger(keys::OrvaExport, keys::Search, values.SearchItem);
    ini.WriteBool(keys::OrvaExport, keys::SelectedDates, values.SelectedDates);
    ini.WriteString(keys::OrvaExport, keys::BeginDate, values.BeginDate.toShortText());
    ini.WriteString(keys::OrvaExport, keys::EndDate, values.EndDate.toShortText());
}

void SaveDialogSettings(const std::string& exeDir, const ProgramState& state) {
    TIniFile ini(SettingsFilePath(exeDir));
    ini.WriteString(keys::Directories, keys::OrvaPath, state.DataDir);
    ini.WriteString(keys::OrvaExport, keys::OrvaPath, state.DataDir);
    ini.WriteBool(keys::OrvaExport, keys::IncludePlacement, state.IncludePlacement);
    ini.WriteBool(keys::OrvaExport, keys::IncludeAssessment, state.IncludeAssessment);
    ini.WriteBool(keys::OrvaExport, keys::IncludeScores, state.IncludeScores);
    ini.WriteInteger(keys::OrvaExport, keys::FileFormat, state.FileFormat);
    ini.WriteBool(keys::OrvaExport, keys::IncludePandA, state.IncludePandA);
    ini.WriteBool(keys::OrvaExport, keys::IncludeAttempted, state.IncludeAttempted);
    ini.WriteBool(keys::OrvaExport, keys::IncludeSubscores, state.IncludeSubscores);
    ini.WriteBool(keys::OrvaExport, keys::IncludeSiteCode, state.IncludeSiteCode);
}
