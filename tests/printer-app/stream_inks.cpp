// Reads a printer stream with the strict decoder and prints, one a line,
// "pages N" and then "PAGE:PLANE" for each plane of each page that carries
// at least one dot. Exit status 1 with the decoder's words when the stream
// breaks the grammar.
#include "qx316_stream.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: stream_inks STREAM\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const qx316::DecodeResult r = qx316::decodeStream(bytes.data(), bytes.size());
    if (!r.ok) {
        std::fprintf(stderr, "stream broken at offset %zu: %s\n", r.errorOffset, r.error.c_str());
        return 1;
    }
    std::printf("pages %zu\n", r.pages.size());
    for (size_t p = 0; p < r.pages.size(); ++p)
        for (const qx316::DecodedPlane &plane : r.pages[p].planes) {
            bool ink = false;
            for (const auto &[line, data] : plane.rows) {
                for (uint8_t b : data)
                    ink = ink || b != 0;
                if (ink)
                    break;
            }
            if (ink)
                std::printf("%zu:%s\n", p + 1, qx316::planeName(plane.letter).c_str());
        }
    return 0;
}
