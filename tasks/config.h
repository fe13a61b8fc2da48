// The settings file "Upgrade.ini" beside the program. Its section "Config" holds "Port", "Baud"
// and "Parity" (read at start-up, written back on close) and "WarningLevel", "TransferFormat2"
// and "ChunkMask" (read only); its section "Ports" may map "COM1" ... "COM32" to device paths
// (read only, handed to ComSetDeviceName). The reading and writing functions are members of
// CUpgradeContext (LoadConfig, SaveConfig, ParseChunkMask; tasks/upgrade_context.h).
#pragma once

#include <string>

inline constexpr const char* kSettingsFileName = "Upgrade.ini";
inline constexpr const char* kSettingsSection = "Config";
inline constexpr const char* kPortsSection = "Ports";

// The program's directory with a trailing separator, or empty when it cannot be found out.
std::string GetModuleDirectory();

// Makes LoadConfig and SaveConfig use the settings file in `directory` instead of the program's
// directory; an empty text goes back to the program's directory. For tests, and for a front end
// that keeps its settings elsewhere. Call it before InitContext.
void SetConfigDirectory(const std::string& directory);
// The settings file's path: the configured or the program's directory followed by
// "Upgrade.ini"; the bare name when the directory is unknown.
std::string GetConfigPath();
