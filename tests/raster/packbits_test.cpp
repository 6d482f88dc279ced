// PackBits coder, left-skip packer and length field.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hex.h"
#include "line_data.h"
#include "qxdro316_inner.h"
#include "raster_reference.h"

namespace {

using qxtest::bytes;
using qxtest::concat;
using qxtest::counting;
using qxtest::hex;
using qxtest::repeat;

constexpr uint8_t kGuard = 0xA5;

// Codes src into a guarded buffer of exactly the promised bound and checks
// the guard bytes behind it.
std::vector<uint8_t> code(const std::vector<uint8_t> &src, int *result = nullptr)
{
    const int n = static_cast<int>(src.size());
    const size_t bound = qxref::packbits_bound(n);
    std::vector<uint8_t> out(bound + 16, kGuard);
    const int r = packbits(out.data(), src.data(), n);
    for (size_t i = bound; i < out.size(); ++i)
        EXPECT_EQ(out[i], kGuard) << "wrote past the bound at " << i << " for " << n << " bytes";
    if (result)
        *result = r;
    out.resize(r > 0 ? static_cast<size_t>(r) : 0);
    return out;
}

struct Example {
    const char *name;
    std::vector<uint8_t> input;
    std::vector<uint8_t> output;
};

std::vector<Example> worked_examples()
{
    return {
        {"abc", bytes("61 62 63"), bytes("02 61 62 63")},
        {"three zeros", bytes("00 00 00"), bytes("FE 00")},
        {"200 x 07", repeat(200, 0x07), bytes("81 07 B9 07")},
        {"single", bytes("61"), bytes("00 61")},
        {"pair", bytes("61 61"), bytes("FF 61")},
        {"pair then single", bytes("61 61 62"), bytes("FF 61 00 62")},
        {"single then pair", bytes("61 62 62"), bytes("02 61 62 62")},
        {"pair inside literal", bytes("61 62 62 63"), bytes("03 61 62 62 63")},
        {"triple ends literal", bytes("61 62 62 62 63"), bytes("00 61 FE 62 00 63")},
        {"run of four", bytes("41 41 41 41 42"), bytes("FD 41 00 42")},
        {"129 x 05", repeat(129, 0x05), bytes("81 05 00 05")},
        {"130 x 05", repeat(130, 0x05), bytes("81 05 FF 05")},
        {"257 x 05", repeat(257, 0x05), bytes("81 05 81 05 00 05")},
        {"130 counting", counting(130), concat(concat(bytes("7F"), counting(128)), bytes("01 80 81"))},
        {"125 + pair", concat(counting(125), bytes("FF FF")), concat(concat(bytes("7E"), counting(125)), bytes("FF FF"))},
        {"126 + pair", concat(counting(126), bytes("FF FF")), concat(concat(bytes("7D"), counting(126)), bytes("01 FF FF"))},
        // Literal of 127 refuses the pair too; the new literal stays open.
        {"127 + pair + single", concat(counting(127), bytes("FF FF 01")),
         concat(concat(bytes("7E"), counting(127)), bytes("02 FF FF 01"))},
        // Singles fill a literal to 128 exactly; the next single opens another.
        {"128 + single", counting(129), concat(concat(bytes("7F"), counting(128)), bytes("00 80"))},
        {"run of 3 ends short literal", bytes("01 02 02 02"), bytes("00 01 FE 02")},
        {"258 x 09", repeat(258, 0x09), bytes("81 09 81 09 FF 09")},
    };
}

TEST(PackBitsExamples, MatchTheDocumentedBytes)
{
    for (const Example &e : worked_examples()) {
        int r = 0;
        const std::vector<uint8_t> got = code(e.input, &r);
        EXPECT_EQ(hex(e.output), hex(got)) << e.name;
        EXPECT_EQ(static_cast<int>(e.output.size()), r) << e.name;
    }
}

TEST(PackBitsExamples, CountZeroWritesNothing)
{
    uint8_t out[4] = {kGuard, kGuard, kGuard, kGuard};
    const uint8_t src[1] = {0x61};
    EXPECT_EQ(0, packbits(out, src, 0));
    EXPECT_EQ("A5 A5 A5 A5", hex(out, 4));
}

TEST(PackBitsExamples, CountTakesItsLow16Bits)
{
    const std::vector<uint8_t> src = bytes("61 62 63");
    uint8_t out[8];
    std::memset(out, kGuard, sizeof out);
    EXPECT_EQ(4, packbits(out, src.data(), 0x10003));
    EXPECT_EQ("02 61 62 63 A5", hex(out, 5));
    std::memset(out, kGuard, sizeof out);
    EXPECT_EQ(0, packbits(out, src.data(), 0x10000));
    EXPECT_EQ(0, packbits(out, src.data(), 0x8000));  // negative as 16 bits
    EXPECT_EQ(0, packbits(out, src.data(), -1));
    EXPECT_EQ("A5", hex(out, 1));
}

// Inputs that exercise every boundary of the state machine.
std::vector<std::vector<uint8_t>> structured_inputs()
{
    std::vector<std::vector<uint8_t>> all;
    const int run_lengths[] = {1, 2, 3, 4, 126, 127, 128, 129, 130, 255, 256, 257, 258, 385, 1000};
    for (int run : run_lengths) {
        all.push_back(repeat(static_cast<size_t>(run), 0x33));
        all.push_back(concat(bytes("01"), repeat(static_cast<size_t>(run), 0x33)));
        all.push_back(concat(concat(bytes("01 02"), repeat(static_cast<size_t>(run), 0x80)), bytes("07")));
    }
    // Literals of 124..129 bytes followed by pairs, singles and runs.
    for (int lit = 120; lit <= 131; ++lit) {
        for (const char *tail : {"FF FF", "FF FF 01", "FF FF 01 01", "FF FF 01 01 02 02", "FF FF FF", "FF", "FF FF 00 00"}) {
            all.push_back(concat(counting(static_cast<size_t>(lit)), bytes(tail)));
            all.push_back(concat(concat(bytes("AA AA"), counting(static_cast<size_t>(lit), 0x10)), bytes(tail)));
        }
    }
    // Alternating pairs only: every pair joins the open literal until it is full.
    std::vector<uint8_t> pairs;
    for (int i = 0; i < 300; ++i)
        pairs.insert(pairs.end(), 2, static_cast<uint8_t>(i % 2 ? 0x11 : 0x22));
    all.push_back(concat(bytes("05"), pairs));
    all.push_back(pairs);
    // Worst case for the bound: nothing repeats.
    all.push_back(counting(32767));
    return all;
}

void check_round_trip(const std::vector<uint8_t> &src, const char *what, size_t index)
{
    int r = 0;
    const std::vector<uint8_t> got = code(src, &r);
    const qxref::Decoded d = qxref::packbits_decode(got.data(), got.size());
    ASSERT_TRUE(d.ok) << what << " #" << index << ": stream has a 0x80 item or a cut item: " << hex(got);
    ASSERT_EQ(src.size(), d.bytes.size()) << what << " #" << index;
    EXPECT_TRUE(d.bytes == src) << what << " #" << index << "\nexpected " << hex(src) << "\ndecoded  " << hex(d.bytes);
    EXPECT_LE(got.size(), qxref::packbits_bound(static_cast<int>(src.size()))) << what << " #" << index;
    const std::vector<uint8_t> ref = qxref::packbits_reference(src.data(), static_cast<int>(src.size()));
    EXPECT_EQ(hex(ref), hex(got)) << what << " #" << index << ": coder differs from the plain reference";
}

TEST(PackBitsRoundTrip, StructuredInputs)
{
    const auto inputs = structured_inputs();
    for (size_t i = 0; i < inputs.size(); ++i)
        check_round_trip(inputs[i], "structured", i);
}

TEST(PackBitsRoundTrip, RandomInputsOfEveryTexture)
{
    qxtest::Lcg rng(7);
    for (size_t i = 0; i < 3000; ++i) {
        const int len = 1 + rng.below(i % 10 == 0 ? 2000 : 300);
        const int alphabet = 1 + rng.below(i % 3 == 0 ? 2 : 256);  // few symbols = many runs
        std::vector<uint8_t> src(static_cast<size_t>(len));
        for (int k = 0; k < len;) {
            const uint8_t v = static_cast<uint8_t>(rng.below(alphabet));
            int run = rng.below(8) == 0 ? 1 + rng.below(300) : 1 + rng.below(3);
            for (; run > 0 && k < len; --run)
                src[static_cast<size_t>(k++)] = v;
        }
        check_round_trip(src, "random", i);
    }
}

TEST(PackBitsBound, LargeIncompressibleLineReportsItsTrueLength)
{
    // 32767 bytes without repeats take 32767 + 261 bytes: more than a 16-bit
    // signed length can hold, so the result must not wrap negative.
    const std::vector<uint8_t> src = counting(32767);
    int r = 0;
    const std::vector<uint8_t> got = code(src, &r);
    EXPECT_EQ(32767 + 1 + 32766 / 128, r);
    EXPECT_GT(r, 32767);
}

struct LeftCase {
    int n;
    const char *out;
};

TEST(LeftPack, DocumentedCases)
{
    const LeftCase cases[] = {
        {1, "00 00"}, {2, "FF 00"}, {3, "FE 00"}, {127, "82 00"}, {128, "81 00"},
        {129, "81 00 00 00"}, {256, "81 00 81 00"}, {257, "81 00 81 00 00 00"}, {300, "81 00 81 00 D5 00"},
    };
    for (const LeftCase &c : cases) {
        std::vector<uint8_t> out(16, kGuard);
        const int r = LeftPack(out.data(), c.n);
        const std::vector<uint8_t> want = bytes(c.out);
        ASSERT_EQ(static_cast<int>(want.size()), r) << "n = " << c.n;
        EXPECT_EQ(hex(want), hex(out.data(), static_cast<size_t>(r))) << "n = " << c.n;
        EXPECT_EQ(kGuard, out[static_cast<size_t>(r)]) << "n = " << c.n;
    }
}

TEST(LeftPack, DecodesToExactlyNZeros)
{
    std::vector<uint8_t> out(600);
    for (int n = 1; n <= 32767; n += (n < 600 ? 1 : 97)) {
        const int r = LeftPack(out.data(), n);
        EXPECT_EQ(2 * ((n + 127) / 128), r) << "n = " << n;
        const qxref::Decoded d = qxref::packbits_decode(out.data(), static_cast<size_t>(r));
        ASSERT_TRUE(d.ok) << "n = " << n;
        EXPECT_EQ(static_cast<size_t>(n), d.bytes.size()) << "n = " << n;
        EXPECT_EQ(repeat(static_cast<size_t>(n), 0), d.bytes) << "n = " << n;
    }
}

TEST(LeftPack, NoBlankBytesWriteNothing)
{
    uint8_t out[4] = {kGuard, kGuard, kGuard, kGuard};
    EXPECT_EQ(0, LeftPack(out, 0));
    EXPECT_EQ(0, LeftPack(out, -5));
    EXPECT_EQ("A5 A5 A5 A5", hex(out, 4));
}

struct LengthCase {
    int amount;
    uint8_t lo, hi;
    uint8_t wantLo, wantHi;
};

TEST(AddLength, AddsLittleEndianModulo65536)
{
    const LengthCase cases[] = {
        {5, 0xFE, 0x00, 0x03, 0x01}, {3, 0xFF, 0xFF, 0x02, 0x00}, {1, 0x00, 0x00, 0x01, 0x00},
        {0x1234, 0x00, 0x00, 0x34, 0x12}, {0x10001, 0x10, 0x00, 0x11, 0x00}, {-1, 0x00, 0x01, 0xFF, 0x00},
    };
    for (const LengthCase &c : cases) {
        uint8_t header[6] = {0x1B, 0x2A, 0x62, c.lo, c.hi, 0x57};
        addlength(c.amount, header);
        const uint8_t want[6] = {0x1B, 0x2A, 0x62, c.wantLo, c.wantHi, 0x57};
        EXPECT_EQ(hex(want, 6), hex(header, 6)) << "amount " << c.amount;
    }
}

}  // namespace
