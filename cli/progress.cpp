#include "cli/progress.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/console_text.h"
#include "platform/edition.h"

namespace {

uint64_t Slot(const ChunkInfo& c) {
    return c.next != 0 ? c.next : 16ull + c.length;
}

std::string ChunkName(const ChunkInfo& c) {
    return std::string(c.name, strnlen(c.name, 16));
}

uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<uint64_t>(size);
}

// The whole-image record that an upgrade sends, and whether it leaves the boot loader out.
const FileRecord* WholeImage(const CUpgradeContext& context, bool* withoutBootLoader) {
    *withoutBootLoader = false;
    if constexpr (kEdition200) {
        if (!context.files[kRecordAllChunksNoBootLoader].path.empty()) {
            *withoutBootLoader = true;
            return &context.files[kRecordAllChunksNoBootLoader];
        }
    }
    const FileRecord& all = context.files[kRecordAllChunks];
    return all.path.empty() ? nullptr : &all;
}

void PlanUpgrade(const CUpgradeContext& context, const ChunkTable& table,
                 std::vector<StepSize>* plan) {
    bool withoutBootLoader = false;
    uint64_t burnTotal = 0;
    if (const FileRecord* image = WholeImage(context, &withoutBootLoader)) {
        burnTotal = FileSize(image->path);
        if (withoutBootLoader && table.count > 0) {
            const uint64_t bootSlot = table.entries[0].next;
            burnTotal = burnTotal > bootSlot ? burnTotal - bootSlot : 0;
        }
        plan->push_back({"Download All Chunk", burnTotal});
    } else {
        for (uint32_t i = 0; i < table.count; ++i) {
            const FileRecord* record = context.ChunkRecord(static_cast<int>(i));
            if (record == nullptr || record->path.empty()) {
                continue;
            }
            const uint64_t slot = Slot(table.entries[i]);
            burnTotal += static_cast<uint64_t>(record->length > 0 ? record->length : 0) + slot;
            plan->push_back({"Download Chunk:" + ChunkName(table.entries[i]), slot});
        }
    }
    plan->push_back({"Burn Flash, DO NOT power off!", burnTotal});
}

void PlanDump(const CUpgradeContext& context, const ChunkTable& table,
              std::vector<StepSize>* plan) {
    if (!context.files[kRecordAllChunks].path.empty()) {
        plan->push_back({"Dump All Chunk", table.flashSize});
        return;
    }
    for (uint32_t i = 0; i < table.count; ++i) {
        const FileRecord* record = context.ChunkRecord(static_cast<int>(i));
        int start = 0, size = 0;
        if (record == nullptr || record->path.empty() || !GetChunkSpan(&table, i, &start, &size)) {
            continue;
        }
        plan->push_back(
            {"Dump Chunk: " + ChunkName(table.entries[i]) + " ", static_cast<uint64_t>(size)});
    }
}

}  // namespace

std::vector<StepSize> PlanStepSizes(const CUpgradeContext& context, const ChunkTable& table) {
    std::vector<StepSize> plan;
    if (table.count > CHUNK_TABLE_CAPACITY) {
        return plan;
    }
    if (context.operation == 0) {
        PlanUpgrade(context, table, &plan);
    } else {
        PlanDump(context, table, &plan);
    }
    return plan;
}

std::string FormatProgressLine(std::string_view step, int percent, double bytesPerSecond,
                               size_t width) {
    constexpr int kBarCells = 20;
    const int shown = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    const int filled = shown * kBarCells / 100;
    std::string line = "[" + std::string(filled, '#') + std::string(kBarCells - filled, ' ') + "]";
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, " %3d%%", shown);
    line += buffer;
    if (bytesPerSecond >= 0) {
        std::snprintf(buffer, sizeof buffer, " %8.0f B/s", bytesPerSecond);
        line += buffer;
    }
    line += "  ";
    // The step text may hold anything the STB named its chunks; it is shown on one line.
    for (char c : TerminalText(step)) {
        line += c == '\n' ? ' ' : c;
    }
    // Cut by characters, never inside a UTF-8 sequence.
    size_t columns = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 && columns++ == width) {
            line.resize(i);
            break;
        }
    }
    return line;
}

void ProgressLine::Step(std::string_view status, uint64_t nowMs) {
    m_step.assign(status);
    m_stepBytes = 0;
    for (size_t i = m_next; i < m_plan.size(); ++i) {
        if (m_plan[i].status == status) {
            m_stepBytes = m_plan[i].bytes;
            m_next = i + 1;
            break;
        }
    }
    m_haveBase = false;
    m_baseMs = nowMs;
    m_lastMs = nowMs;
    m_basePercent = 0;
    m_percent = 0;
}

void ProgressLine::Percent(int percent, uint64_t nowMs) {
    m_percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    m_lastMs = nowMs;
    // The clock starts with the step's first report: before it the task pauses and compresses.
    if (!m_haveBase) {
        m_haveBase = true;
        m_baseMs = nowMs;
        m_basePercent = m_percent;
    }
}

std::string ProgressLine::Render(size_t width) const {
    double rate = -1;
    const uint64_t elapsedMs = m_lastMs - m_baseMs;
    if (m_stepBytes > 0 && m_haveBase && elapsedMs >= 200 && m_percent >= m_basePercent) {
        rate = static_cast<double>(m_stepBytes) * (m_percent - m_basePercent) / 100.0 * 1000.0 /
               static_cast<double>(elapsedMs);
    }
    return FormatProgressLine(m_step, m_percent, rate, width);
}
