#include "tasks/config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "library/link/upgrade.h"
#include "platform/ini.h"
#include "platform/paths.h"
#include "tasks/upgrade_context.h"

namespace {

std::string g_configDirectory;  // empty: the program's directory

constexpr int kPortCount = 32;  // "COM1" ... "COM32"

// One mask element read as the standard unsigned conversion in base 16 does on a 32-bit
// platform: blanks, an optional sign, an optional 0x, then hexadecimal digits; no digits give 0,
// a value beyond 32 bits gives 0xFFFFFFFF, and a minus sign negates the value.
uint32_t ParseHexElement(const std::string& element) {
    size_t i = 0;
    while (i < element.size() && std::isspace(static_cast<unsigned char>(element[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < element.size() && (element[i] == '+' || element[i] == '-')) {
        negative = element[i] == '-';
        ++i;
    }
    const std::string rest = element.substr(i);
    if (rest.empty() || !std::isxdigit(static_cast<unsigned char>(rest[0]))) {
        return 0;  // no digits (strtoull would take a second sign or more blanks)
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long magnitude = std::strtoull(rest.c_str(), &end, 16);
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull) {
        return 0xFFFFFFFFu;
    }
    uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? static_cast<uint32_t>(0u - value) : value;
}

}  // namespace

std::string GetModuleDirectory() {
    const std::string directory = PlatformProgramDirectory();
    return directory.empty() ? std::string() : PlatformJoinPath(directory, "");
}

void SetConfigDirectory(const std::string& directory) {
    g_configDirectory = directory;
}

std::string GetConfigPath() {
    if (!g_configDirectory.empty()) {
        return PlatformJoinPath(g_configDirectory, kSettingsFileName);
    }
    return GetModuleDirectory() + kSettingsFileName;
}

int CUpgradeContext::LoadConfig() {
    IniFile file;
    file.Load(GetConfigPath());  // a missing file leaves every value as it is
    g_comPort = file.GetInt(kSettingsSection, "Port", g_comPort);
    g_comBaud = file.GetInt(kSettingsSection, "Baud", g_comBaud);
    g_comParity = file.GetInt(kSettingsSection, "Parity", g_comParity);
    warningLevel = file.GetInt(kSettingsSection, "WarningLevel", warningLevel);
    transferFormat2 = file.GetInt(kSettingsSection, "TransferFormat2", transferFormat2);
    ParseChunkMask(file.GetString(kSettingsSection, "ChunkMask", "").c_str());
    for (int port = 1; port <= kPortCount; ++port) {
        const std::string device = file.GetString(kPortsSection, "COM" + std::to_string(port), "");
        if (!device.empty()) {
            ComSetDeviceName(port, device);
        }
    }
    return 1;
}

int CUpgradeContext::SaveConfig() {
    const std::string path = GetConfigPath();
    IniFile file;
    std::error_code error;
    if (!file.Load(path) && std::filesystem::exists(path, error)) {
        return 1;  // there but unreadable: writing would lose its other lines
    }
    file.SetString(kSettingsSection, "Port", std::to_string(g_comPort));
    file.SetString(kSettingsSection, "Baud", std::to_string(g_comBaud));
    file.SetString(kSettingsSection, "Parity", std::to_string(g_comParity));
    file.Save(path);  // failures (a read-only file, for one) are ignored: the program closes
    return 1;
}

int CUpgradeContext::ParseChunkMask(const char* text) {
    maskCount = 0;
    if (text == nullptr) {
        return 1;
    }
    const std::string mask(text);
    size_t start = 0;
    for (size_t i = 0; i < mask.size(); ++i) {
        if (mask[i] != ',') {
            continue;
        }
        if (maskCount < kMaskCapacity) {
            maskIds[maskCount++] = ParseHexElement(mask.substr(start, i - start));
        }
        start = i + 1;
    }
    return 1;
}
