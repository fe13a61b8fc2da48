// Where things live on this system: the running program's own directory, the temporary
// directory, and a private scratch directory that cleans up after itself.
#pragma once

#include <string>

// The directory that holds the running program, absolute, without a trailing separator.
// Empty when the program's path cannot be found out.
std::string PlatformProgramDirectory();

// The system's temporary directory: the TMPDIR environment value when it is set and not
// empty, else "/tmp". Returned as given, without a trailing separator removed or added.
std::string PlatformTempDirectory();

// `dir` and `name` joined by one separator; `name` alone when `dir` is empty.
std::string PlatformJoinPath(const std::string& dir, const std::string& name);

// A directory of its own under the temporary directory, created with owner-only rights and a
// name nobody can guess beforehand, so that fixed file names inside it cannot be planted or
// redirected by another user. The destructor removes the files directly inside it and then
// the directory itself (it does not descend into subdirectories). Not copyable.
class PlatformPrivateDir {
  public:
    PlatformPrivateDir() = default;
    ~PlatformPrivateDir();
    PlatformPrivateDir(const PlatformPrivateDir&) = delete;
    PlatformPrivateDir& operator=(const PlatformPrivateDir&) = delete;

    // Creates the directory under PlatformTempDirectory(), its name beginning with `prefix`.
    // Returns false (and stays empty) when it cannot be created. Calling it again first
    // removes the directory made before.
    bool Create(const std::string& prefix);
    // The directory's path; empty before a successful Create.
    const std::string& Path() const { return m_path; }
    // The path of `name` inside the directory.
    std::string File(const std::string& name) const { return PlatformJoinPath(m_path, name); }

  private:
    void Remove();
    std::string m_path;
};
