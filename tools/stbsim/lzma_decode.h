// Decoding of "transfer -z" payloads: the LZMA stream in the .lzma ("alone") container that the
// tool's encoder writes with literal context bits 0 and literal position bits 2.
#pragma once

#include <cstdint>
#include <string>

#include "tools/stbsim/sim_bytes.h"

namespace stbsim {

// Decodes `stream`, which must yield exactly `expectedLength` bytes. False with *problem when
// the stream is broken or its length differs. True with a non-empty *problem when the stream
// decodes but breaks a rule of the boot loader's decoder (other lc/lp settings, a header size
// that differs from the announced length).
bool DecodeLzmaAlone(const Bytes& stream, uint32_t expectedLength, Bytes* out,
                     std::string* problem);

// Encodes `data` the way the tool's encoder does (lc0 lp2, .lzma container); for tests and
// for rehearsing with the simulator. False when liblzma fails.
bool EncodeLzmaAlone(const Bytes& data, Bytes* out);

}  // namespace stbsim
