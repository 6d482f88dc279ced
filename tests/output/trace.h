// Call traces: seeded random call sequences against the job calls, and a
// fingerprint of everything a caller can see after every call (the result,
// the list and its chunks, every field of the job record and its line
// records, the filled part of the head block of every band, temporary and
// command chain, the status record). A trace recorded from one build of the
// library is replayed against another: both must agree call for call.
//
// Uses only the exported calls and records, so the same sources drive any
// build of the library (scripts/record-traces.sh).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxtrace {

// What one call was, for the reader of a difference.
enum CallKind : uint8_t {
    kOpen,
    kInit,
    kInitTwo,
    kInitPart,
    kProduceTwo,
    kProduce,
    kComplete,
    kFlush,
    kFormFeed,
    kClose,
};

// The fingerprint of one call: its result and three hashes of what the
// caller can see afterwards.
struct CallPrint {
    uint8_t kind = 0;
    int32_t result = 0;
    uint32_t list = 0;     // the list record and its items (bytes right after a call that returned it)
    uint32_t record = 0;   // job record, line records, status record, blocks still held after a close
    uint32_t buffers = 0;  // filled part of the head blocks of every chain

    bool operator==(const CallPrint &o) const {
        return kind == o.kind && result == o.result && list == o.list && record == o.record && buffers == o.buffers;
    }
};

struct Sequence {
    uint32_t seed = 0;
    std::vector<CallPrint> calls;
};

// Observes the calls of one sequence. `describe` is the readable state after
// the call (only built when the observer asks for it).
class Observer {
public:
    virtual ~Observer() = default;
    virtual void call(int index, const CallPrint &print, const std::string &what) = 0;
    // Whether the readable state of call `index` is wanted.
    virtual bool wantsState(int /*index*/) const { return false; }
    virtual void state(int /*index*/, const std::string & /*text*/) {}
};

// Runs the sequence of `seed` against the linked library.
Sequence run(uint32_t seed, Observer *observer = nullptr);

// The traces file: "QXTRACE1", sequence count, then per sequence its seed,
// call count and calls (little-endian, 17 bytes a call).
bool save(const std::string &path, const std::vector<Sequence> &seqs);
bool load(const std::string &path, std::vector<Sequence> *seqs);

const char *kindName(uint8_t kind);

}  // namespace qxtrace
