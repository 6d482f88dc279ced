// Asserts: the CUPS filter's page loop, given any raster file and options,
// either prints pages whose stream the printer-side decoder accepts (exit 0)
// or refuses with exit 1 and one ERROR line, and whatever it sent before a
// refusal still ends at a page end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "filter_loop.h"
#include "fuzz_check.h"
#include "fuzz_params.h"
#include "qx316_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TailParams in(data, size);
    // Options as a queue would pass them: none, or a quality and a media.
    const uint8_t pick = in.byte();
    std::string options;
    if (pick & 1) {
        const auto q = qx316::optionInfo(qx316::OptionId::Quality).choices;
        const auto m = qx316::optionInfo(qx316::OptionId::Media).choices;
        options = std::string("QXQuality=") + q[(pick >> 1) % q.size()].keyword +
                  " MediaType=" + m[(pick >> 4) % m.size()].keyword + (pick & 0x80 ? " QXPaper=banner" : "");
    }
    const size_t rasterBytes = pick & 1 ? in.payloadSize() : size;
    const int fd = memfd_create("raster", 0);
    FUZZ_CHECK(fd >= 0, "memfd");
    FUZZ_CHECK(size_t(write(fd, data, rasterBytes)) == rasterBytes, "memfd write");
    lseek(fd, 0, SEEK_SET);

    std::vector<uint8_t> stream;
    char *text = nullptr;
    size_t textSize = 0;
    FILE *messages = open_memstream(&text, &textSize);
    const char *argv[] = {"rastertoqx316", "1", "user", "title", "1", options.c_str(), nullptr};
    qx316::cupsfilter::FilterRun run;
    run.argc = 6;
    run.argv = argv;
    run.inputFd = fd;
    run.output = [&](const uint8_t *d, size_t n) {
        stream.insert(stream.end(), d, d + n);
        return true;
    };
    run.messages = messages;
    const int status = qx316::cupsfilter::runFilter(run);
    std::fclose(messages);
    close(fd);
    const std::string said(text ? text : "", textSize);
    std::free(text);

    int errors = 0;
    for (size_t at = said.find("ERROR:"); at != std::string::npos; at = said.find("ERROR:", at + 1))
        ++errors;
    FUZZ_CHECK(status == 0 || status == 1, "exit status %d", status);
    FUZZ_CHECK(status == 0 ? errors == 0 : errors == 1, "exit %d with %d ERROR lines:\n%s", status, errors, said.c_str());
    if (status == 0)
        FUZZ_CHECK(!stream.empty(), "success without a stream");
    if (!stream.empty()) {
        const qx316::DecodeResult d = qx316::decodeStream(stream.data(), stream.size());
        FUZZ_CHECK(d.ok, "stream rejected at %zu: %s\n%s", d.errorOffset, d.error.c_str(), said.c_str());
    }
    return 0;
}
