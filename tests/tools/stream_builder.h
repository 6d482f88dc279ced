// Builds printer command streams byte by byte for the decoder tests.
#ifndef QX316_TEST_STREAM_BUILDER_H
#define QX316_TEST_STREAM_BUILDER_H

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qx316test {

using Bytes = std::vector<uint8_t>;

struct StreamBuilder {
    Bytes b;

    StreamBuilder &raw(const Bytes &bytes) {
        b.insert(b.end(), bytes.begin(), bytes.end());
        return *this;
    }
    StreamBuilder &cmd(uint8_t letter, const Bytes &param) {
        return cmdLen(letter, uint16_t(param.size()), param);
    }
    // A command whose length field says len whatever the parameters hold.
    StreamBuilder &cmdLen(uint8_t letter, uint16_t len, const Bytes &param) {
        raw({0x1B, 0x28, letter, uint8_t(len & 0xFF), uint8_t(len >> 8)});
        return raw(param);
    }
    StreamBuilder &setup() { return cmd('b', {1}); }
    StreamBuilder &header(uint8_t height) { return cmd('I', {1}).cmd('J', {height}); }
    StreamBuilder &select(const Bytes &letters) { return cmd('L', letters); }
    StreamBuilder &skip(int count) { return cmd('e', {uint8_t(count >> 8), uint8_t(count & 0xFF)}); }
    StreamBuilder &blank() { return cmd('F', {}); }
    // A raster-line command from lines of PackBits items; each gets its 0x80.
    StreamBuilder &lines(const std::vector<Bytes> &coded) { return cmd('F', band(coded)); }
    // n empty lines: a band with no ink in this plane.
    StreamBuilder &emptyLines(int n) { return cmd('F', Bytes(size_t(n), 0x80)); }

    static Bytes band(const std::vector<Bytes> &coded) {
        Bytes d;
        for (const Bytes &l : coded) {
            d.insert(d.end(), l.begin(), l.end());
            d.push_back(0x80);
        }
        return d;
    }

    size_t size() const { return b.size(); }
};

} // namespace qx316test

#endif
