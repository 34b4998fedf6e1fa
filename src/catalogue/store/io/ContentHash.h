#pragma once
// A 64-bit hash of a stream of bytes, fast enough to run over every byte a
// million-record catalogue reads or writes without being seen: four lanes of
// eight bytes mixed independently, so that the multiplications overlap.
// It tells a changed or torn byte from an unchanged one; it is no defence
// against someone who wants two texts to collide.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vrindel {

class ContentHash {
public:
    void update(const void* data, std::size_t size) {
        if (size == 0)
            return;   // an empty buffer may have no address at all
        const auto* in = static_cast<const unsigned char*>(data);
        bytes_ += size;
        if (pending_) {
            const std::size_t take = size < Block - pending_ ? size : Block - pending_;
            std::memcpy(block_ + pending_, in, take);
            pending_ += take;
            in += take;
            size -= take;
            if (pending_ < Block)
                return;
            mixBlock(block_);
            pending_ = 0;
        }
        for (; size >= Block; in += Block, size -= Block)
            mixBlock(in);
        std::memcpy(block_, in, size);
        pending_ = size;
    }

    // Of everything so far; the stream may go on afterwards.
    std::uint64_t digest() const {
        std::uint64_t h = bytes_ * Prime;
        for (std::uint64_t lane : lanes_)
            h = mix(h, lane);
        for (std::size_t i = 0; i < pending_; ++i)
            h = mix(h, block_[i]);
        return mix(h, bytes_);
    }
    std::uint64_t bytes() const { return bytes_; }

    static std::uint64_t of(const void* data, std::size_t size) {
        ContentHash hash;
        hash.update(data, size);
        return hash.digest();
    }

private:
    static constexpr std::size_t Block = 32;
    static constexpr std::uint64_t Prime = 0x9E3779B97F4A7C15ull;

    static std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
        h = (h ^ word) * Prime;
        return h ^ (h >> 29);
    }
    // One multiplication a word: the fold of the high bits waits for digest().
    void mixBlock(const unsigned char* in) {
        for (int lane = 0; lane < 4; ++lane) {
            std::uint64_t word;
            std::memcpy(&word, in + 8 * lane, 8);
            lanes_[lane] = (lanes_[lane] ^ word) * Prime;
        }
    }

    std::uint64_t lanes_[4] = {1, 2, 3, 4};
    unsigned char block_[Block] = {};
    std::size_t pending_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace vrindel
