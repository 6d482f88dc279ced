// Runs a fuzz target without a fuzzing engine: every file of a seed corpus
// directory, then a fixed number of deterministic pseudo-random inputs, then
// every file of further directories (the crashes ever fixed), which may be
// absent.
// Usage: <target> CORPUS_DIR [RANDOM_INPUTS [DIR...]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

uint64_t g_state = 0x2545F4914F6CDD1Dull;

uint32_t next()
{
    g_state = g_state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(g_state >> 33);
}

// Byte strings with long runs, pairs and literals in random proportions.
std::vector<uint8_t> random_input()
{
    const size_t size = next() % (next() % 8 == 0 ? 4000 : 300);
    std::vector<uint8_t> v;
    v.reserve(size);
    const uint32_t alphabet = 1 + next() % 256;
    while (v.size() < size) {
        const uint8_t b = static_cast<uint8_t>(next() % alphabet);
        size_t run = next() % 6 == 0 ? 1 + next() % 300 : 1 + next() % 3;
        while (run-- > 0 && v.size() < size)
            v.push_back(b);
    }
    return v;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [RANDOM_INPUTS]\n", argv[0]);
        return 2;
    }
    const long randomInputs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3000;
    long files = 0;
    auto replay = [&](const char *dir, bool required) {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.')
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++files;
        }
        if (ec && required) {
            std::fprintf(stderr, "ERROR: cannot read corpus %s: %s\n", dir, ec.message().c_str());
            return false;
        }
        return true;
    };
    if (!replay(argv[1], true))
        return 1;
    for (long i = 0; i < randomInputs; ++i) {
        const std::vector<uint8_t> bytes = random_input();
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    for (int i = 3; i < argc; ++i)
        replay(argv[i], false);
    std::printf("INFO: %ld corpus and regression files, %ld random inputs, no faults\n", files, randomInputs);
    return 0;
}
