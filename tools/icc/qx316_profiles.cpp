// qx316-profiles: writes the built-in ink model's ICC profile of every media
// class into a folder, one file a class named by its media choice
// ("m7.icc"). These are the profiles the CUPS driver's PPDs name; qx316 and
// the printer application build the same ones in memory. They come from a
// model of the inks, not from a measurement.
// Usage: qx316-profiles FOLDER
#include "colour.h"
#include "options.h"
#include "qxdro316_inner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: qx316-profiles FOLDER\n", stderr);
        return 2;
    }
    const std::string dir = argv[1];
    std::set<int> done;
    for (const qx316::Choice &c : qx316::optionInfo(qx316::OptionId::Media).choices) {
        const int cls = GetIndexMediaType(c.code);
        if (!done.insert(cls).second)
            continue;
        const std::vector<uint8_t> &bytes = qx316::modelProfile(cls, true);
        if (bytes.empty()) {
            std::fprintf(stderr, "ERROR: cannot build the profile of media class %d\n", cls);
            return 1;
        }
        const std::string path = dir + "/" + qx316::profileFileName(c.code);
        const std::string temp = path + ".tmp";
        FILE *f = std::fopen(temp.c_str(), "wb");
        const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if (f && std::fclose(f) != 0) {
            std::remove(temp.c_str());
            f = nullptr;
        }
        if (!ok || !f || std::rename(temp.c_str(), path.c_str()) != 0) {
            std::fprintf(stderr, "ERROR: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            std::remove(temp.c_str());
            return 1;
        }
    }
    return 0;
}
