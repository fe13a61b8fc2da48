// The one-line progress display of upgrade-cli: the current step, its percentage and the bytes
// per second. The tasks report only percentages, so the byte count behind each step is worked
// out beforehand from the file records and the chunk table, the way the task will send them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/link/upgrade.h"
#include "tasks/upgrade_context.h"

// A step whose progress counts bytes: its status text and how many bytes 100 % stands for.
struct StepSize {
    std::string status;
    uint64_t bytes = 0;
};

// The steps that the upgrade or dump task will report with progress, in the order it posts
// them, for the records in `context` and the STB's `table`: every chunk transfer (its slot),
// a whole-image transfer (the bytes sent), the burn (its total) and every dump.
std::vector<StepSize> PlanStepSizes(const CUpgradeContext& context, const ChunkTable& table);

// The line to show: "[#####     ]  50%  12345 B/s  <step>", cut to `width` characters. A
// negative rate is not known and is left out.
std::string FormatProgressLine(std::string_view step, int percent, double bytesPerSecond,
                               size_t width);

// Follows the task's status texts and percentages against the planned step sizes.
class ProgressLine {
  public:
    explicit ProgressLine(std::vector<StepSize> plan = {}) : m_plan(std::move(plan)) {}
    // A status text arrived at `nowMs`: a new step begins at 0 %.
    void Step(std::string_view status, uint64_t nowMs);
    // A percentage arrived at `nowMs`.
    void Percent(int percent, uint64_t nowMs);
    // Whether there is anything to show yet.
    bool Visible() const { return !m_step.empty(); }
    // The line for the current state, `width` characters at most.
    std::string Render(size_t width) const;

  private:
    std::vector<StepSize> m_plan;
    size_t m_next = 0;  // the first plan entry not yet matched
    std::string m_step;
    uint64_t m_stepBytes = 0;
    bool m_haveBase = false;  // the step's first percentage came
    uint64_t m_baseMs = 0;    // when it came
    int m_basePercent = 0;    // and what it said
    uint64_t m_lastMs = 0;
    int m_percent = 0;
};
