// Replays the recorded call traces (tests/output/traces/): the library must
// show a caller, after every call, what the library the traces were recorded
// from showed. The first differing call of a sequence is printed readably.
#include <gtest/gtest.h>

#include <string>

#include "trace.h"

namespace {

// Recorded from both the i386 and the native build, which agreed.
std::string tracePath() { return std::string(QX_TRACE_DIR) + "/calls.trace"; }

// The calls up to the differing one, and the state after it.
class Difference : public qxtrace::Observer {
public:
    explicit Difference(int at) : at_(at) {}
    void call(int index, const qxtrace::CallPrint &p, const std::string &what) override {
        if (index > at_ || index < at_ - 8) return;
        text += "\n  " + std::to_string(index) + " " + qxtrace::kindName(p.kind) + " -> " + std::to_string(p.result) +
                "  " + what;
    }
    bool wantsState(int index) const override { return index == at_; }
    void state(int, const std::string &s) override { text += "\nstate now:" + s; }
    std::string text;

private:
    int at_;
};

std::string sections(const qxtrace::CallPrint &want, const qxtrace::CallPrint &got) {
    std::string s;
    if (want.kind != got.kind) s += " call kind";
    if (want.result != got.result)
        s += " result (recorded " + std::to_string(want.result) + ", now " + std::to_string(got.result) + ")";
    if (want.list != got.list) s += " list";
    if (want.record != got.record) s += " job record";
    if (want.buffers != got.buffers) s += " buffers";
    return s;
}

TEST(Traces, EveryCallShowsWhatTheRecordedLibraryShowed) {
    std::vector<qxtrace::Sequence> recorded;
    ASSERT_TRUE(qxtrace::load(tracePath(), &recorded)) << "cannot read " << tracePath();
    ASSERT_GE(recorded.size(), 5000u);
    int failures = 0;
    size_t calls = 0;
    std::string summary;
    for (const qxtrace::Sequence &want : recorded) {
        const qxtrace::Sequence got = qxtrace::run(want.seed);
        calls += want.calls.size();
        size_t i = 0;
        while (i < want.calls.size() && i < got.calls.size() && want.calls[i] == got.calls[i]) ++i;
        if (i == want.calls.size() && i == got.calls.size()) continue;
        std::string what = i < want.calls.size() && i < got.calls.size()
                               ? "differs in" + sections(want.calls[i], got.calls[i])
                               : "ends early (" + std::to_string(want.calls.size()) + " calls recorded, " +
                                     std::to_string(got.calls.size()) + " now)";
        // The first three in full, the rest a line each.
        if (++failures > 3) {
            summary += "\n  sequence " + std::to_string(want.seed) + " call " + std::to_string(i) + " " +
                       (i < got.calls.size() ? qxtrace::kindName(got.calls[i].kind) : "") + " " + what;
            continue;
        }
        Difference diff(static_cast<int>(i));
        qxtrace::run(want.seed, &diff);
        ADD_FAILURE() << "sequence " << want.seed << ", call " << i << " " << what << diff.text
                      << "\n(the recorded library's side: scripts/record-traces.sh --show " << want.seed << " " << i
                      << ")";
    }
    EXPECT_EQ(failures, 0) << "sequences that differ" << summary;
    EXPECT_GT(calls, 100000u);
}

}  // namespace
