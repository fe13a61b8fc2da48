#include "cli/console_text.h"

#include <cstdio>
#include <cstring>

#include "platform/edition.h"
#include "wizard/select_rules.h"

namespace {

void AppendEscape(std::string* out, unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
    *out += buffer;
}

// A fixed 16-byte text of a chunk entry, up to its NUL (never past the field).
std::string_view FieldText(const char (&field)[16]) {
    return std::string_view(field, strnlen(field, sizeof field));
}

std::string Hex32(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
    return buffer;
}

// `text` padded with blanks to `width` columns (counted in characters of the printed text).
std::string Column(const std::string& text, size_t width) {
    size_t columns = 0;
    for (unsigned char c : text) {
        columns += (c & 0xC0) != 0x80;  // UTF-8 continuation bytes take no column
    }
    return columns >= width ? text + " " : text + std::string(width - columns, ' ');
}

}  // namespace

const char* TitleBanner() {
    return kEdition200 ? "Upgrade Tool Version:2.0.0b. 2007-11-16" : "VOR Tarvik 5.2   14-05-2008";
}

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;  // the LF that follows stands for the pair
        }
        if (c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F)) {
            out += static_cast<char>(c);
        } else if (c >= 0xA0) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            AppendEscape(&out, c);
        }
    }
    return out;
}

std::string LogText::Emit(std::string text) {
    if (!text.empty()) {
        m_atLineStart = text.back() == '\n';
    }
    return text;
}

void LogText::Begin(Page page) {
    m_page = page;
    m_written = false;
}

std::string LogText::Status(std::string_view text) {
    // The first text of a task starts a line of its own, whatever was printed before.
    std::string out = !m_written && !m_atLineStart ? "\n" : "";
    if (m_page == Page::kProcess && m_written) {
        out += '\n';
    }
    out += TerminalText(text);
    if (m_page == Page::kConnect) {
        out += '\n';
    }
    m_written = true;
    return Emit(std::move(out));
}

std::string LogText::Log(std::string_view text) {
    std::string out = !m_written && !m_atLineStart && !text.empty() ? "\n" : "";
    if (!text.empty()) {
        m_written = true;
    }
    out += TerminalText(text);
    return Emit(std::move(out));
}

std::string LogText::Line(std::string_view text) {
    std::string out = m_atLineStart ? "" : "\n";
    out += TerminalText(text);
    out += '\n';
    return Emit(std::move(out));
}

std::string LogText::Finish() {
    return Emit(m_atLineStart ? "" : "\n");
}

std::string FormatTitle(int protocolVersion) {
    std::string title = TitleBanner();
    if (protocolVersion != 0) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, " Protocol version: %d.%d",
                      static_cast<unsigned>(protocolVersion) >> 4, protocolVersion & 0xF);
        title += buffer;
    }
    return title;
}

std::string FormatFlashSize(uint32_t bytes) {
    if (bytes == 0) {
        return "unknown";
    }
    char buffer[64];
    if (bytes % (1024 * 1024) == 0) {
        std::snprintf(buffer, sizeof buffer, "%u bytes (%u MiB)", bytes, bytes / (1024 * 1024));
    } else if (bytes % 1024 == 0) {
        std::snprintf(buffer, sizeof buffer, "%u bytes (%u KiB)", bytes, bytes / 1024);
    } else {
        std::snprintf(buffer, sizeof buffer, "%u bytes", bytes);
    }
    return buffer;
}

std::string FormatChunkTable(const ChunkTable& table) {
    std::string out = Column("index", 7) + Column("id", 12) + Column("name", 17) +
                      Column("version", 17) + Column("length", 12) + Column("next", 12) +
                      Column("CRC", 12) + "masked\n";
    const uint32_t count = table.count <= CHUNK_TABLE_CAPACITY ? table.count : 0;
    for (uint32_t i = 0; i < count; ++i) {
        const ChunkInfo& c = table.entries[i];
        out += Column(std::to_string(i), 7) + Column(Hex32(c.id), 12) +
               Column(TerminalText(FieldText(c.name)), 17) +
               Column(TerminalText(FieldText(c.version)), 17) + Column(Hex32(c.length), 12) +
               Column(Hex32(c.next), 12) +
               Column(c.crc == CHUNK_NO_CRC ? "none" : Hex32(c.crc), 12) +
               (c.masked ? "yes" : "no") + "\n";
    }
    return out;
}

std::string FormatInfo(const ChunkTable& table, int protocolVersion, const char* bootVersion) {
    std::string out = TerminalText(FormatTitle(protocolVersion)) + "\n";
    out += "Boot loader version: " + TerminalText({bootVersion, strnlen(bootVersion, 16)}) + "\n";
    out += "Flash size: " + FormatFlashSize(table.flashSize) + "\n";
    out += "Chunks:\n" + FormatChunkTable(table);
    if constexpr (kEdition201) {
        out += TerminalText(DetectFirmwareFamily(table).message) + "\n";
    }
    return out;
}
