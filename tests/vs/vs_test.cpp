// Tests of the portable layer: memory blocks through the
// calloc/free seam, the system query, the version strings, and the byte
// utilities on every alignment and overlap against plain byte-loop references.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_seam.h"
#include "hex.h"
#include "qxdro316.h"

namespace {

using qxtest::hex;

// ---- Handles and pointer blocks ---------------------------------------------

TEST(Handles, NonPositiveSizeGivesNullAndAllocatesNothing) {
    qxtest::AllocFailure seam(0);
    for (int32_t size : {0, -1, -5, INT32_MIN}) {
        EXPECT_EQ(QXVSNewHNDL(size), nullptr) << size;
        EXPECT_EQ(QXVSNewPTR(size), nullptr) << size;
    }
    EXPECT_EQ(qxtest::allocCalls(), 0);
}

TEST(Handles, BlocksAreZeroFilledAndReleased) {
    const long before = qxtest::liveBlocks();
    for (int32_t size : {1, 2, 3, 7, 64, 4096, 45056}) {
        QXVSHandle h = QXVSNewHNDL(size);
        ASSERT_NE(h, nullptr) << size;
        EXPECT_EQ(qxtest::liveBlocks(), before + 1);
        auto *p = static_cast<uint8_t *>(QXVSLockHNDL(h));
        EXPECT_EQ(static_cast<void *>(p), h);
        for (int32_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << "size " << size << " byte " << i;
        std::memset(p, 0xA5, static_cast<size_t>(size));  // the whole block is writable
        QXVSUnlockHNDL(h);
        QXVSDisposeHNDL(&h);
        EXPECT_EQ(h, nullptr);
        EXPECT_EQ(qxtest::liveBlocks(), before);

        auto *q = static_cast<uint8_t *>(QXVSNewPTR(size));
        ASSERT_NE(q, nullptr);
        for (int32_t i = 0; i < size; ++i) ASSERT_EQ(q[i], 0) << "size " << size << " byte " << i;
        EXPECT_EQ(qxtest::liveBlocks(), before + 1);
        uint8_t *copy = q;
        QXVSDisposePTR(q);
        EXPECT_EQ(q, copy);  // the caller's variable is left as it was
        EXPECT_EQ(qxtest::liveBlocks(), before);
    }
}

TEST(Handles, OneCallocPerBlock) {
    qxtest::AllocFailure seam(0);
    QXVSHandle h = QXVSNewHNDL(10);
    void *p = QXVSNewPTR(10);
    EXPECT_EQ(qxtest::allocCalls(), 2);
    QXVSDisposeHNDL(&h);
    QXVSDisposePTR(p);
}

TEST(Handles, ExhaustedMemoryGivesNull) {
    const long before = qxtest::liveBlocks();
    {
        qxtest::AllocFailure seam(1);
        EXPECT_EQ(QXVSNewHNDL(16), nullptr);
    }
    {
        qxtest::AllocFailure seam(1);
        EXPECT_EQ(QXVSNewPTR(16), nullptr);
    }
    {
        qxtest::AllocFailure seam(2);  // only the second call fails
        QXVSHandle a = QXVSNewHNDL(8);
        QXVSHandle b = QXVSNewHNDL(8);
        EXPECT_NE(a, nullptr);
        EXPECT_EQ(b, nullptr);
        QXVSDisposeHNDL(&a);
    }
    EXPECT_EQ(qxtest::liveBlocks(), before);
}

TEST(Handles, DisposeNullsTheVariableAndIsIdempotent) {
    const long before = qxtest::liveBlocks();
    QXVSHandle h = QXVSNewHNDL(4);
    ASSERT_NE(h, nullptr);
    QXVSDisposeHNDL(&h);
    EXPECT_EQ(h, nullptr);
    QXVSDisposeHNDL(&h);  // second call on the same variable: nothing
    EXPECT_EQ(h, nullptr);
    QXVSDisposeHNDL(nullptr);
    QXVSDisposePTR(nullptr);
    EXPECT_EQ(qxtest::liveBlocks(), before);
}

TEST(Handles, LockReturnsItsArgument) {
    EXPECT_EQ(QXVSLockHNDL(nullptr), nullptr);
    int x = 0;
    EXPECT_EQ(QXVSLockHNDL(&x), &x);
    QXVSUnlockHNDL(&x);
    QXVSUnlockHNDL(nullptr);
    EXPECT_EQ(QXVSLockHNDL(&x), &x);  // no lock count: still the same
}

TEST(SystemInfo, Queries) {
    int32_t r = 77;
    EXPECT_EQ(QXVSGetSystemInfo(1, &r), 0);
    EXPECT_EQ(r, 3);
    for (int32_t q : {2, 0, -1, 3, INT32_MAX, INT32_MIN, 0x10001}) {
        r = 77;
        EXPECT_EQ(QXVSGetSystemInfo(q, &r), -128) << q;
        EXPECT_EQ(r, 0) << q;
    }
    EXPECT_EQ(QXVSGetSystemInfo(1, nullptr), -128);
    EXPECT_EQ(QXVSGetSystemInfo(2, nullptr), -128);
}

TEST(Version, StringsAndSizes) {
    EXPECT_EQ(sizeof(QXPARMversion), 28u);
    EXPECT_EQ(sizeof(QXVSversion), 26u);
    EXPECT_EQ(sizeof(QXOUTPUTversion), 30u);
    EXPECT_EQ(std::memcmp(QXPARMversion, "MORVANTS_QXPARM_2.93.01.003", 28), 0);
    EXPECT_EQ(std::memcmp(QXVSversion, "MORVANTS_QXVS_1.50.01.001", 26), 0);
    EXPECT_EQ(std::memcmp(QXOUTPUTversion, "MORVANTS_QXOUTPUT_1.00.01.001", 30), 0);
}

// ---- Byte order ---------------------------------------------------------------

TEST(CheckEndian, EveryPairOfCodes) {
    // Reference: codes 0..2 valid, 0 = native = little (2); -128 if either is bad.
    for (int32_t a = -3; a <= 5; ++a) {
        for (int32_t b = -3; b <= 5; ++b) {
            const bool valid = a >= 0 && a <= 2 && b >= 0 && b <= 2;
            const int32_t na = a == 0 ? 2 : a, nb = b == 0 ? 2 : b;
            const int32_t want = !valid ? -128 : (na != nb ? 1 : 0);
            EXPECT_EQ(QXVSCheckEndian(a, b), want) << a << "," << b;
        }
    }
    EXPECT_EQ(QXVSCheckEndian(0, 2), 0);
    EXPECT_EQ(QXVSCheckEndian(2, 0), 0);
    EXPECT_EQ(QXVSCheckEndian(0, 0), 0);
    EXPECT_EQ(QXVSCheckEndian(1, 1), 0);
    EXPECT_EQ(QXVSCheckEndian(0, 1), 1);
    EXPECT_EQ(QXVSCheckEndian(1, 2), 1);
    EXPECT_EQ(QXVSCheckEndian(3, 1), -128);
    EXPECT_EQ(QXVSCheckEndian(1, 3), -128);
    EXPECT_EQ(QXVSCheckEndian(-1, 0), -128);
    EXPECT_EQ(QXVSCheckEndian(0x10000, 0), -128);  // full 32-bit compare
}

// ---- Swap ---------------------------------------------------------------------

TEST(SwapData, WorkedExamples) {
    uint8_t b[4] = {1, 2, 3, 4};
    QXVSSwapData(b, 2, 2);
    EXPECT_EQ(hex(b, 4), "02 01 04 03");
    uint8_t c[4] = {1, 2, 3, 4};
    QXVSSwapData(c, 4, 1);
    EXPECT_EQ(hex(c, 4), "04 03 02 01");
    uint8_t d[4] = {1, 2, 3, 4};
    QXVSSwapData(d, 3, 1);
    EXPECT_EQ(hex(d, 4), "01 02 03 04");
    QXVSSwapData(nullptr, 2, 4);  // nothing
}

TEST(SwapData, EveryOffsetUnitAndCount) {
    for (int32_t unit : {-4, 0, 1, 2, 3, 4, 8}) {
        for (size_t off = 0; off < 4; ++off) {
            for (int32_t n = -2; n <= 9; ++n) {
                alignas(8) uint8_t buf[64], want[64];
                for (size_t i = 0; i < 64; ++i) buf[i] = want[i] = static_cast<uint8_t>(i * 7 + 1);
                if ((unit == 2 || unit == 4) && n > 0) {
                    for (int32_t u = 0; u < n; ++u) {
                        uint8_t *p = want + off + static_cast<size_t>(u * unit);
                        for (int32_t k = 0; k < unit / 2; ++k) std::swap(p[k], p[unit - 1 - k]);
                    }
                }
                QXVSSwapData(buf + off, unit, n);
                ASSERT_EQ(hex(buf, 64), hex(want, 64)) << "unit " << unit << " off " << off << " n " << n;
            }
        }
    }
}

TEST(SwapData, TwiceRestores) {
    alignas(4) uint8_t b[9] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    QXVSSwapData(b + 1, 4, 2);
    QXVSSwapData(b + 1, 4, 2);
    EXPECT_EQ(hex(b, 9), "09 08 07 06 05 04 03 02 01");
}

// ---- Copy ---------------------------------------------------------------------

// Reference: every destination byte receives the source byte as it was before the call.
void referenceCopy(const uint8_t *s, uint8_t *d, int32_t n) {
    if (!s || !d || s == d || n <= 0) return;
    std::vector<uint8_t> tmp(s, s + n);
    for (int32_t i = 0; i < n; ++i) d[i] = tmp[static_cast<size_t>(i)];
}

TEST(CopyData, WorkedExamples) {
    char t[] = "abcde";
    QXVSCopyData(t, t + 1, 4);
    EXPECT_STREQ(t, "aabcd");
    char u[] = "abcde";
    QXVSCopyData(u + 1, u, 4);
    EXPECT_STREQ(u, "bcdee");
    char v[] = "abcde";
    QXVSCopyData(v, v, 5);
    EXPECT_STREQ(v, "abcde");
}

TEST(CopyData, NothingForNullOrNonPositiveCount) {
    uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {};
    QXVSCopyData(nullptr, b, 8);
    QXVSCopyData(a, nullptr, 8);
    QXVSCopyData(a, b, 0);
    QXVSCopyData(a, b, -1);
    QXVSCopyData(a, b, INT32_MIN);
    EXPECT_EQ(hex(b, 8), "00 00 00 00 00 00 00 00");
}

// Source and destination in one buffer at every pair of positions within a
// window: covers every alignment (0..3) of both and every overlap, in both
// directions, with short and word-sized counts.
TEST(CopyData, EveryAlignmentAndOverlapInOneBuffer) {
    constexpr size_t kSize = 96;
    for (size_t so = 0; so < 24; ++so) {
        for (size_t dof = 0; dof < 24; ++dof) {
            for (int32_t n = 0; n <= 40; ++n) {
                alignas(16) uint8_t buf[kSize], want[kSize];
                for (size_t i = 0; i < kSize; ++i) buf[i] = want[i] = static_cast<uint8_t>(i + 1);
                referenceCopy(want + so, want + dof, n);
                QXVSCopyData(buf + so, buf + dof, n);
                ASSERT_EQ(hex(buf, kSize), hex(want, kSize)) << "src +" << so << " dst +" << dof << " n " << n;
            }
        }
    }
}

TEST(CopyData, EveryAlignmentSeparateBuffers) {
    for (size_t so = 0; so < 4; ++so) {
        for (size_t dof = 0; dof < 4; ++dof) {
            for (int32_t n = 0; n <= 70; ++n) {
                alignas(16) uint8_t src[80], dst[80], want[80];
                for (size_t i = 0; i < 80; ++i) {
                    src[i] = static_cast<uint8_t>(0x80 + i * 3);
                    dst[i] = want[i] = 0xEE;
                }
                referenceCopy(src + so, want + dof, n);
                QXVSCopyData(src + so, dst + dof, n);
                ASSERT_EQ(hex(dst, 80), hex(want, 80)) << "src +" << so << " dst +" << dof << " n " << n;
            }
        }
    }
}

// ---- Fill ---------------------------------------------------------------------

TEST(SetData, WorkedExample) {
    alignas(4) uint8_t b[16];
    std::memset(b, 0x11, sizeof b);
    QXVSSetData(b + 1, 0xAB, 10);
    EXPECT_EQ(hex(b, 16), "11 AB AB AB AB AB AB AB AB AB AB 11 11 11 11 11");
}

TEST(SetData, EveryOffsetCountAndValue) {
    for (int value = 0; value < 256; ++value) {
        for (size_t off = 0; off < 8; ++off) {
            for (int32_t n = -1; n <= 24; ++n) {
                alignas(16) uint8_t buf[40], want[40];
                const uint8_t bg = static_cast<uint8_t>(~value);
                std::memset(buf, bg, sizeof buf);
                std::memset(want, bg, sizeof want);
                for (int32_t i = 0; i < n; ++i) want[off + static_cast<size_t>(i)] = static_cast<uint8_t>(value);
                QXVSSetData(buf + off, value, n);
                ASSERT_EQ(hex(buf, 40), hex(want, 40)) << "value " << value << " off " << off << " n " << n;
            }
        }
    }
}

TEST(SetData, OnlyTheLowEightBitsOfTheValue) {
    alignas(4) uint8_t b[12] = {};
    QXVSSetData(b, 0x1AB, 12);
    EXPECT_EQ(hex(b, 12), "AB AB AB AB AB AB AB AB AB AB AB AB");
    QXVSSetData(b + 2, -1, 5);
    EXPECT_EQ(hex(b, 12), "AB AB FF FF FF FF FF AB AB AB AB AB");
    QXVSSetData(nullptr, 0, 10);  // nothing
}

// ---- Compare ------------------------------------------------------------------

TEST(CompData, EqualAndEveryDifferingPosition) {
    for (size_t ao = 0; ao < 4; ++ao) {
        for (size_t bo = 0; bo < 4; ++bo) {
            for (int32_t n = 1; n <= 20; ++n) {
                alignas(8) uint8_t a[32], b[32];
                for (size_t i = 0; i < 32; ++i) a[i] = b[i] = static_cast<uint8_t>(i * 5);
                // Align the contents of b with the window in a.
                std::memcpy(b + bo, a + ao, static_cast<size_t>(n));
                EXPECT_EQ(QXVSCompData(a + ao, b + bo, n), 1);
                for (int32_t k = 0; k < n; ++k) {
                    b[bo + static_cast<size_t>(k)] ^= 0x40;
                    EXPECT_EQ(QXVSCompData(a + ao, b + bo, n), 0) << "differs at " << k;
                    // Bytes before the difference still compare equal.
                    EXPECT_EQ(QXVSCompData(a + ao, b + bo, k), 1);
                    b[bo + static_cast<size_t>(k)] ^= 0x40;
                }
            }
        }
    }
}

TEST(CompData, CountsAndNulls) {
    uint8_t a[2] = {1, 2}, b[2] = {3, 4};
    EXPECT_EQ(QXVSCompData(a, b, 0), 1);
    EXPECT_EQ(QXVSCompData(a, b, -3), 1);
    EXPECT_EQ(QXVSCompData(nullptr, b, 0), -128);
    EXPECT_EQ(QXVSCompData(a, nullptr, 0), -128);
    EXPECT_EQ(QXVSCompData(nullptr, nullptr, 5), -128);
    EXPECT_EQ(QXVSCompData(a, a, 2), 1);
    EXPECT_EQ(QXVSCompData(a, b, 1), 0);
}

}  // namespace
