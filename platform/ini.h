// Reading and writing INI settings files ("[Section]" lines, "key=value" lines), with the
// behaviour that the program's settings rely on: section and key names match without regard to
// case; a missing file, section or key yields the caller's default; integers are read as their
// leading decimal digits (with an optional sign), 0 when there are none; writing changes or adds
// only the one line concerned and keeps every other line of the file byte for byte. A file is
// written whole beside its target and then renamed over it, so that a crash leaves either the
// old or the new file, never a half-written one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class IniFile {
  public:
    IniFile() = default;

    // Reads the file at `path`. False when it cannot be read (the contents are then empty, which
    // reads as "no section, no key").
    bool Load(const std::string& path);

    // The value of `key` in `section`, with the blanks around it and one pair of enclosing
    // double quotes removed; `def` when the section or key is missing. The first matching
    // section and key count.
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def) const;
    // The value read as a decimal integer: optional blanks and sign, then the leading digits
    // (0 when there are none; clamped to the int range). `def` when the key is missing.
    int GetInt(const std::string& section, const std::string& key, int def) const;
    // Whether the section holds the key.
    bool HasKey(const std::string& section, const std::string& key) const;

    // Sets `key` in `section` to `value`: rewrites the key's line, or adds the key at the end of
    // the section, or adds the section at the end of the file.
    void SetString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the contents to `path` atomically (temporary file beside it, then rename), keeping
    // the mode of an existing file. False, leaving the file as it was, when the file exists but
    // is not writable or anything fails; *error then says why.
    bool Save(const std::string& path, std::string* error = nullptr) const;

  private:
    struct Line {
        std::string text;  // without its line ending
    };
    // Index of the section's header line, or -1.
    int FindSection(const std::string& section) const;
    // Index of the key's line within the section that starts at `header`, or -1.
    int FindKey(int header, const std::string& key) const;
    // Index of the line after the last key line of the section that starts at `header`.
    int SectionEnd(int header) const;

    std::vector<Line> m_lines;
    std::string m_newline = "\r\n";  // the file's own line ending, kept for added lines
    bool m_finalNewline = true;      // whether the file ended with a line ending
};

// Replaces the file at `path` (a symbolic link's target) with `size` bytes of `data`, atomically:
// the bytes go into a new file beside it, which is then renamed over it, so that a failure or
// crash part-way leaves the old file (or no file) as it was. An existing file keeps its mode; a
// read-only one is left alone. Used for the settings file and for dump files.
enum class ReplaceFileResult {
    kOk,
    kCannotCreate,  // the file is read-only, or no file can be created beside it
    kCannotWrite,   // writing, flushing or renaming failed; nothing was changed
};
ReplaceFileResult PlatformReplaceFile(const std::string& path, const void* data, size_t size,
                                      std::string* error = nullptr);

// One-call forms over a file, as the settings code uses them.
int IniReadInt(const std::string& path, const std::string& section, const std::string& key,
               int def);
std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def);
// Loads the file (a missing file counts as empty), sets the key and saves it atomically.
bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);
