#include "platform/ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// "[name]" (blanks allowed around and inside the brackets): true with the name.
bool ParseSectionLine(const std::string& raw, std::string* name) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] != '[') {
        return false;
    }
    size_t close = line.find(']');
    *name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key = value": true with the key and the raw value text. Comment lines do not count.
bool ParseKeyLine(const std::string& raw, std::string* key, std::string* value) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '[') {
        return false;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    *key = Trim(line.substr(0, equals));
    if (value != nullptr) {
        *value = line.substr(equals + 1);
    }
    return !key->empty();
}

std::string Unquote(const std::string& text) {
    std::string value = Trim(text);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ErrnoText(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// The file that a save replaces: the target of a symbolic link, so that the link survives.
std::string ResolveTarget(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Creates a new file beside `target` with a name nobody else uses; -1 on failure.
int CreateSibling(const std::string& target, std::string* siblingPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        *siblingPath = target + ".tmp-" + std::to_string(getpid()) + "-" +
                       std::to_string(counter.fetch_add(1));
        int fd = open(siblingPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

void SyncDirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    m_lines.clear();
    m_newline = "\n";
    m_finalNewline = true;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return false;
    }
    const std::string text = content.str();
    if (text.find("\r\n") != std::string::npos) {
        m_newline = "\r\n";
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            m_lines.push_back({text.substr(start)});
            m_finalNewline = false;
            break;
        }
        m_lines.push_back({text.substr(start, end - start)});
        start = end + 1;
    }
    return true;
}

int IniFile::FindSection(const std::string& section) const {
    std::string name;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (ParseSectionLine(m_lines[i].text, &name) && EqualNoCase(name, section)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int IniFile::FindKey(int header, const std::string& key) const {
    std::string name;
    std::string found;
    for (size_t i = static_cast<size_t>(header) + 1; i < m_lines.size(); ++i) {
        if (ParseSectionLine(m_lines[i].text, &name)) {
            break;
        }
        if (ParseKeyLine(m_lines[i].text, &found, nullptr) && EqualNoCase(found, key)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int IniFile::SectionEnd(int header) const {
    std::string name;
    int end = header + 1;
    for (size_t i = static_cast<size_t>(header) + 1; i < m_lines.size(); ++i) {
        if (ParseSectionLine(m_lines[i].text, &name)) {
            break;
        }
        if (!Trim(m_lines[i].text).empty()) {
            end = static_cast<int>(i) + 1;
        }
    }
    return end;
}

std::string IniFile::GetString(const std::string& section, const std::string& key,
                               const std::string& def) const {
    int header = FindSection(section);
    int line = header < 0 ? -1 : FindKey(header, key);
    if (line < 0) {
        return def;
    }
    std::string name;
    std::string value;
    ParseKeyLine(m_lines[static_cast<size_t>(line)].text, &name, &value);
    return Unquote(value);
}

bool IniFile::HasKey(const std::string& section, const std::string& key) const {
    int header = FindSection(section);
    return header >= 0 && FindKey(header, key) >= 0;
}

int IniFile::GetInt(const std::string& section, const std::string& key, int def) const {
    if (!HasKey(section, key)) {
        return def;
    }
    const std::string value = GetString(section, key, std::string());
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    long long number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        number = number * 10 + (value[i] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) {
            number = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        number = -number;
    }
    if (number > INT_MAX) {
        number = INT_MAX;
    }
    return static_cast<int>(number);
}

void IniFile::SetString(const std::string& section, const std::string& key,
                        const std::string& value) {
    const std::string cr = m_newline == "\r\n" ? "\r" : "";
    const std::string text = key + "=" + value + cr;
    int header = FindSection(section);
    if (header < 0) {
        // A last line without a line ending gets one before the new section.
        m_lines.push_back({"[" + section + "]" + cr});
        m_lines.push_back({text});
        m_finalNewline = true;
        return;
    }
    int line = FindKey(header, key);
    if (line >= 0) {
        m_lines[static_cast<size_t>(line)].text = text;
        return;
    }
    int end = SectionEnd(header);
    if (end == static_cast<int>(m_lines.size())) {
        m_finalNewline = true;  // the new last line ends like the others
    }
    m_lines.insert(m_lines.begin() + end, Line{text});
}

bool IniFile::Save(const std::string& path, std::string* error) const {
    std::string data;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        data += m_lines[i].text;
        if (i + 1 < m_lines.size() || m_finalNewline) {
            data += '\n';
        }
    }
    return PlatformReplaceFile(path, data.data(), data.size(), error) == ReplaceFileResult::kOk;
}

ReplaceFileResult PlatformReplaceFile(const std::string& path, const void* data, size_t size,
                                      std::string* error) {
    std::string scratch;
    std::string& why = error != nullptr ? *error : scratch;
    const std::string target = ResolveTarget(path);
    struct stat info;
    const bool exists = stat(target.c_str(), &info) == 0;
    // A read-only file stays as it is, also for a user whom the system would let replace it.
    if (exists && (access(target.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0)) {
        why = ErrnoText(target, EACCES);
        return ReplaceFileResult::kCannotCreate;
    }
    std::string sibling;
    int fd = CreateSibling(target, &sibling);
    if (fd < 0) {
        why = ErrnoText(target, errno);
        return ReplaceFileResult::kCannotCreate;
    }
    bool ok = WriteAll(fd, static_cast<const char*>(data), size) &&
              (!exists || fchmod(fd, info.st_mode & 07777) == 0) && fsync(fd) == 0;
    int savedErrno = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && rename(sibling.c_str(), target.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        unlink(sibling.c_str());
        why = ErrnoText(target, savedErrno);
        return ReplaceFileResult::kCannotWrite;
    }
    SyncDirectoryOf(target);
    return ReplaceFileResult::kOk;
}

int IniReadInt(const std::string& path, const std::string& section, const std::string& key,
               int def) {
    IniFile file;
    file.Load(path);
    return file.GetInt(section, key, def);
}

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def) {
    IniFile file;
    file.Load(path);
    return file.GetString(section, key, def);
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    IniFile file;
    if (!file.Load(path) && FileExists(path)) {
        return false;  // there, but unreadable: writing would lose its other lines
    }
    file.SetString(section, key, value);
    return file.Save(path);
}
