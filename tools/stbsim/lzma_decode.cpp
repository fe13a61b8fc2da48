#include "tools/stbsim/lzma_decode.h"

#include <lzma.h>

namespace stbsim {
namespace {

constexpr size_t kAloneHeader = 13;  // properties byte, dictionary size, uncompressed size

}  // namespace

bool DecodeLzmaAlone(const Bytes& stream, uint32_t expectedLength, Bytes* out,
                     std::string* problem) {
    problem->clear();
    if (stream.size() < kAloneHeader) {
        *problem = "stream shorter than its 13-byte header";
        return false;
    }
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&strm, UINT64_MAX) != LZMA_OK) {
        *problem = "decoder cannot start";
        return false;
    }
    // One byte of room beyond the announced length shows a stream that is too long.
    out->assign(size_t(expectedLength) + 1, 0);
    strm.next_in = stream.data();
    strm.avail_in = stream.size();
    strm.next_out = out->data();
    strm.avail_out = out->size();
    lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
    size_t produced = out->size() - strm.avail_out;
    size_t leftIn = strm.avail_in;
    lzma_end(&strm);
    if (ret != LZMA_STREAM_END) {
        *problem = "stream does not decode (liblzma result " + std::to_string(int(ret)) + ")";
        return false;
    }
    if (produced != expectedLength) {
        *problem = "stream decodes to " + std::to_string(produced) + " bytes, announced " +
                   std::to_string(expectedLength);
        return false;
    }
    out->resize(produced);
    uint8_t props = stream[0];
    unsigned lc = props % 9, lp = (props / 9) % 5;
    uint64_t headerSize = 0;
    for (int i = 0; i < 8; ++i) {
        headerSize |= uint64_t(stream[5 + i]) << (8 * i);
    }
    if (lc != 0 || lp != 2) {
        *problem =
            "stream uses lc" + std::to_string(lc) + " lp" + std::to_string(lp) + ", not lc0 lp2";
    } else if (headerSize != UINT64_MAX && headerSize != expectedLength) {
        *problem = "stream header says " + std::to_string(headerSize) + " bytes";
    } else if (leftIn != 0) {
        *problem = std::to_string(leftIn) + " bytes after the end of the stream";
    }
    return true;
}

bool EncodeLzmaAlone(const Bytes& data, Bytes* out) {
    lzma_options_lzma options;
    if (lzma_lzma_preset(&options, 6) != 0) {
        return false;
    }
    options.lc = 0;
    options.lp = 2;
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&strm, &options) != LZMA_OK) {
        return false;
    }
    out->assign(data.size() + data.size() / 2 + 1024, 0);
    strm.next_in = data.data();
    strm.avail_in = data.size();
    strm.next_out = out->data();
    strm.avail_out = out->size();
    lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
    out->resize(out->size() - strm.avail_out);
    lzma_end(&strm);
    return ret == LZMA_STREAM_END;
}

}  // namespace stbsim
