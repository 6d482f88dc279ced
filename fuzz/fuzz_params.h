// Parameters of structured fuzz inputs, taken from the end of the input so
// that the front stays payload: an engine's mutations of the payload then
// leave the parameters alone, and the other way round.
#pragma once

#include <cstddef>
#include <cstdint>

class TailParams {
public:
    TailParams(const uint8_t *data, size_t size) : data_(data), end_(size) {}
    // The next parameter byte from the end (0 once the input is used up).
    uint8_t byte() { return end_ > 0 ? data_[--end_] : 0; }
    uint16_t u16() { return uint16_t(byte() | byte() << 8); }
    // What is left in front of the parameters read so far.
    const uint8_t *payload() const { return data_; }
    size_t payloadSize() const { return end_; }

private:
    const uint8_t *data_;
    size_t end_;
};
