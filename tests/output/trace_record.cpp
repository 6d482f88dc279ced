// Records call traces from the library it is linked with, or shows one
// sequence readably.
//   trace_record FILE COUNT      sequences 1..COUNT into FILE
//   trace_record --show SEED [CALL]
//                                every call of a sequence; the state after
//                                CALL (default: the last)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trace.h"

namespace {

class Shower : public qxtrace::Observer {
public:
    explicit Shower(int at) : at_(at) {}
    void call(int index, const qxtrace::CallPrint &p, const std::string &what) override {
        std::printf("%4d %-16s %-6d list %08x record %08x buffers %08x  %s\n", index, qxtrace::kindName(p.kind),
                    p.result, p.list, p.record, p.buffers, what.c_str());
    }
    bool wantsState(int index) const override { return index == at_; }
    void state(int index, const std::string &text) override { std::printf("state after call %d:%s\n", index, text.c_str()); }

private:
    int at_;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--show") == 0) {
        const auto seed = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
        int at = argc >= 4 ? std::atoi(argv[3]) : -1;
        if (at < 0) at = static_cast<int>(qxtrace::run(seed).calls.size()) - 1;
        Shower shower(at);
        qxtrace::run(seed, &shower);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: trace_record FILE COUNT | --show SEED [CALL]\n");
        return 2;
    }
    const long count = std::strtol(argv[2], nullptr, 10);
    std::vector<qxtrace::Sequence> seqs;
    size_t calls = 0;
    for (long i = 1; i <= count; ++i) {
        seqs.push_back(qxtrace::run(static_cast<uint32_t>(i)));
        calls += seqs.back().calls.size();
    }
    if (!qxtrace::save(argv[1], seqs)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%ld sequences, %zu calls\n", count, calls);
    return 0;
}
