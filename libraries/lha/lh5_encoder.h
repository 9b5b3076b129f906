#pragma once
// The -lh5- compressor: LZSS over an 8 KiB window followed by blocks of
// static Huffman codes, as LHA archives store them.
//
// Bytes are pushed in with Write() in pieces of any size; the compressed
// stream comes out through a ByteSink, a block at a time. Finish() ends the
// stream. The output carries no length or checksum: the archive header keeps
// the original size, which is what tells a decoder where the stream ends.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lh5 {

// Receives the compressed bytes in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void Put(const uint8_t* data, size_t size) = 0;
};

// A sink that keeps everything in memory.
class VectorSink : public ByteSink {
public:
    void Put(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
    std::vector<uint8_t> bytes;
};

struct EncoderOptions {
    // How many earlier positions with the same 4-byte prefix are tried for a
    // match; more finds longer matches at the cost of speed.
    int maxChain = 96;
    // A match at least this long is taken at once, without lazy evaluation.
    int niceLength = 256;
    // Codes (literals plus matches) per Huffman block, 1 to 65535.
    int blockCodes = 32768;
};

class Encoder {
public:
    explicit Encoder(ByteSink& out, const EncoderOptions& options = {});
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    void Write(const uint8_t* data, size_t size);
    // Codes the remaining input and flushes the last partial byte.
    void Finish();

    uint64_t bytesIn() const;
    uint64_t bytesOut() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Convenience: the whole -lh5- stream of one buffer.
std::vector<uint8_t> Compress(const uint8_t* data, size_t size, const EncoderOptions& options = {});

}  // namespace lh5
