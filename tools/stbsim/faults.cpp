#include "tools/stbsim/faults.h"

#include <cerrno>
#include <cstdlib>

namespace stbsim {

uint64_t FaultDice::Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool FaultDice::Roll(double p) {
    if (p <= 0) {
        return false;
    }
    return double(Next() >> 11) * (1.0 / 9007199254740992.0) < p;
}

bool ParseFailRule(const std::string& rule, StbFaults* faults) {
    size_t eq = rule.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= rule.size()) {
        return false;
    }
    std::string code = rule.substr(eq + 1);
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(code.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull || code[0] == '-') {
        return false;
    }
    faults->failCodes[rule.substr(0, eq)] = uint32_t(v);
    return true;
}

}  // namespace stbsim
