// Where KesPrep.ini lies. A copy of the program that runs from its build
// folder or from a folder it was unpacked into keeps the file beside itself,
// as on Windows, where the program is always unzipped and run in place. An
// installed copy (on Linux, the one in the bin folder of the prefix the build
// was configured for, /usr/bin for the Debian package) cannot write there, so
// it keeps the file in the user's configuration folder: $XDG_CONFIG_HOME/kesprep/,
// or ~/.config/kesprep/ when that variable is unset or not an absolute path.
// No Qt here: the windows and kesprep-batch both find the file through
// SettingsFilePath (app/core/IniFile.h), which follows this rule.
#pragma once

#include <string>

// What the rule looks at; the decision itself reads nothing else.
struct SettingsLocationFacts {
    std::string ProgramDir;          // the running program's folder ("" when unknown)
    std::string InstalledProgramDir; // where an installed copy runs from; "" for none
    std::string ConfigHome;          // $XDG_CONFIG_HOME ("" when unset)
    std::string HomeDir;             // the user's home folder ("" when unknown)
};

// The folder that holds the settings file, ending in PathDelim (or "" when
// ProgramDir is "" and the program's copy is not the installed one). The
// program's folder comes back as it was given, with a separator added.
std::string SettingsDirectoryFor(const SettingsLocationFacts& facts);

// The facts for a program running from `programDir` on this machine: the
// installed folder the build was configured with (none on Windows), the
// environment and the home folder through the OS layer.
SettingsLocationFacts CurrentSettingsLocationFacts(const std::string& programDir);

// SettingsDirectoryFor the facts of this machine. The user's configuration
// folder is created when it is the answer and does not exist yet, so that
// the first write of a setting can create the file.
std::string SettingsDirectory(const std::string& programDir);
