#include "platform/paths.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

std::string PlatformProgramDirectory() {
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) {
        return std::string();
    }
    std::string path(buffer.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string PlatformTempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && dir[0] != '\0') {
        return dir;
    }
    return "/tmp";
}

std::string PlatformJoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    if (dir.back() == '/') {
        return dir + name;
    }
    return dir + "/" + name;
}

PlatformPrivateDir::~PlatformPrivateDir() {
    Remove();
}

bool PlatformPrivateDir::Create(const std::string& prefix) {
    Remove();
    std::string pattern = PlatformJoinPath(PlatformTempDirectory(), prefix + "XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        return false;
    }
    m_path = name.data();
    return true;
}

void PlatformPrivateDir::Remove() {
    if (m_path.empty()) {
        return;
    }
    if (DIR* dir = opendir(m_path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                unlink(File(name).c_str());
            }
        }
        closedir(dir);
    }
    rmdir(m_path.c_str());
    m_path.clear();
}
