// Faults that the simulated STB can inject, all drawn from one seeded generator so that a run
// can be repeated. Probabilities are per packet (packet protocol) or per data block (legacy).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace stbsim {

struct StbFaults {
    uint64_t seed = 1;
    double dropRx = 0;      // a packet from the tool is lost before the boot loader sees it
    double dropTx = 0;      // a packet of the boot loader is lost on the line
    double corruptRx = 0;   // one byte of a packet (or legacy data block) from the tool is damaged
    double corruptTx = 0;   // one byte of a packet (or legacy dump block) to the tool is damaged
    double noise = 0;       // stray bytes on the line before a reply packet
    double blockError = 0;  // a good legacy transfer block is answered "E" all the same
    unsigned replyDelayMs = 0;  // every reply (not the echo) leaves this much later
    // Command word ("address", "move", "transfer", "burn", "reboot", "version", "chunk",
    // "dump") -> the STB failure code it is answered with (legacy: answered "E").
    std::map<std::string, uint32_t> failCodes;
    int dumpEndAfter = -1;         // a dump ends early after this many data packets or blocks
    bool burnError = false;        // the burn fails half way with an "E" report
    bool oversizedLength = false;  // replies announce lengths beyond what the tool can hold
    bool tooManyChunks = false;    // the chunk reply lists 17 chunks
};

// Deterministic pseudo-random numbers (splitmix64): the same seed gives the same faults on
// every platform.
class FaultDice {
  public:
    explicit FaultDice(uint64_t seed) : m_state(seed) {}
    uint64_t Next();
    // True with probability p (never when p <= 0).
    bool Roll(double p);
    // A number below `bound` (bound > 0).
    uint64_t Below(uint64_t bound) { return Next() % bound; }

  private:
    uint64_t m_state;
};

// Parses "CMD=CODE" (CODE decimal or 0x hex) into faults->failCodes; false when malformed.
bool ParseFailRule(const std::string& rule, StbFaults* faults);

}  // namespace stbsim
