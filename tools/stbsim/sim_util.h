// Small helpers shared by the simulator's files: the STB's failure codes, number and word
// parsing of command lines, JSON text escaping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stbsim {

// Failure codes the boot loader reports in a status packet (status 1).
inline constexpr uint32_t kStbBadParameter = 0x10000;
inline constexpr uint32_t kStbAddressOverflow = 0x10001;
inline constexpr uint32_t kStbAddressNotInit = 0x10002;
inline constexpr uint32_t kStbChunkNotFound = 0x10003;
inline constexpr uint32_t kStbNothingToBurn = 0x10004;
inline constexpr uint32_t kStbNoBuffer = 0x10005;
// Passing failures (below 0x10000): the tool retries them.
inline constexpr uint32_t kCommandNotRecognised = 33;
inline constexpr uint32_t kBurnFailed = 13;

// Decimal digits only, no sign, at most 32 bits.
bool ParseUnsigned(const std::string& text, uint32_t* value);
// Words separated by single or repeated blanks.
std::vector<std::string> SplitWords(const std::string& line);
std::string JsonEscape(const std::string& text);

}  // namespace stbsim
