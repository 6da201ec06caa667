// Small routines of the shell that need no window: folders, the settings
// file "Tersolv.ini", the command-line switch and the credit text.
#pragma once

#include <optional>
#include <string>

namespace tersolv::shell {

inline constexpr const char* kSettingsFileName = "Tersolv.ini";
inline constexpr const char* kTemplateFileName = "Tersolv.xlsx";

// `folder` with a "/" appended unless it ends in one already ("" stays "").
std::string WithTrailingSlash(std::string folder);

// Where the settings file lives: in the program folder when that folder is
// writable, else in `configHome`/tersolv/ (configHome: $XDG_CONFIG_HOME, or
// "" for the default `home`/.config).
std::string SettingsFilePath(const std::string& ProgramFolder, const std::string& configHome,
                             const std::string& home);

// The working folder recorded in the settings file: the rest of its first
// line after the exact key "WorkDir=", blanks around it removed. Nothing when
// the file is missing, empty or its first line carries another key.
std::optional<std::string> ReadWorkDir(const std::string& settingsPath);

// Creates or replaces the settings file with the one line "WorkDir=" +
// WorkFolder; creates its folder when needed. False when it cannot be written.
bool WriteWorkDir(const std::string& settingsPath, const std::string& WorkFolder);

// True when `folder` ends in "/" and holds at least one ordinary file.
bool HasOrdinaryFiles(const std::string& folder);

// True when both name the same file or folder (compared as canonical paths;
// a path that does not exist is compared after normalising it).
bool SamePath(const std::string& a, const std::string& b);

// Rewrites a scrambled text in place: a running key starts at 32; for each
// character the key becomes key XOR the character's code and the character
// is replaced by the one whose code is the new key.
void UnscrambleText(std::string& text);
// The inverse of UnscrambleText (used to prepare scrambled texts).
std::string ScrambleText(const std::string& text);

// The extended-range switch: the command line (arguments joined by blanks),
// in lower case with "/" appended, contains "/ie/"; or one argument is
// "--extended-range".
bool ExtendedRangeSwitch(const std::string& commandLine);

}  // namespace tersolv::shell
