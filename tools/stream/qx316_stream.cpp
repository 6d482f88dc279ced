// Strict walk of a model 316 command stream. One pass, no look-back: every
// command is framed (ESC ( letter, 16-bit little-endian length, parameters),
// checked against the page state, then applied.
#include "qx316_stream.h"

#include <cstdio>

namespace qx316 {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kEndOfLine = 0x80;
constexpr size_t kMaxLineBytes = 65535;   // a line's decoded length stays below 65536
constexpr int kMaxSkip = 32767;

bool isPlaneLetter(uint8_t c) {
    switch (c) {
    case 'C': case 'M': case 'Y': case 'K': case 0xC3: case 0xCD: case 0xD9:
        return true;
    default:
        return false;
    }
}

std::string hexByte(uint8_t b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

std::string letterName(uint8_t c) {
    if (c >= 0x21 && c < 0x7F)
        return std::string("'") + char(c) + "'";
    return hexByte(c);
}

// Result of decoding one line's items.
enum class LineEnd { EndOfLine, OutOfData, Overrun, TooLong };

// Decodes PackBits items at [pos, end) into out until an end-of-line byte.
// On EndOfLine pos points past the 0x80; otherwise pos is the offset of the
// failing item's control byte (or end for OutOfData).
LineEnd decodeItems(const uint8_t *d, size_t &pos, size_t end, std::vector<uint8_t> &out) {
    while (pos < end) {
        uint8_t c = d[pos];
        if (c == kEndOfLine) {
            ++pos;
            return LineEnd::EndOfLine;
        }
        if (c < 0x80) {
            size_t n = size_t(c) + 1;
            if (end - pos - 1 < n)
                return LineEnd::Overrun;
            if (out.size() + n > kMaxLineBytes)
                return LineEnd::TooLong;
            out.insert(out.end(), d + pos + 1, d + pos + 1 + n);
            pos += 1 + n;
        } else {
            size_t n = 257 - size_t(c);
            if (end - pos - 1 < 1)
                return LineEnd::Overrun;
            if (out.size() + n > kMaxLineBytes)
                return LineEnd::TooLong;
            out.insert(out.end(), n, d[pos + 1]);
            pos += 2;
        }
    }
    return LineEnd::OutOfData;
}

struct Walker {
    Walker(const uint8_t *data, size_t n, const StreamLimits &limits, DecodeResult &result)
        : d(data), size(n), lim(limits), r(result) {}

    const uint8_t *d;
    size_t size;
    const StreamLimits &lim;
    DecodeResult &r;

    // Page state; reset by every set-up command.
    DecodedPage *page = nullptr;
    bool awaitingJ = false;                 // ESC ( I read, ESC ( J must follow
    std::vector<uint8_t> selection;         // planes of the following bands
    std::vector<size_t> selectionIndex;     // their index in page->planes
    size_t nextPlane = 0;                   // position in selection of the next 'F'
    bool bandInked = false;
    int64_t decodedBytes = 0;

    bool fail(size_t offset, std::string what) {
        r.ok = false;
        r.errorOffset = offset;
        r.error = std::move(what);
        return false;
    }

    std::string bandWhere() const {
        return "band " + std::to_string(page->bands) + " of page " + std::to_string(r.pages.size());
    }

    // A command other than 'F' may not split the planes of a band.
    bool checkBandBoundary(size_t o, uint8_t letter) {
        if (page && nextPlane != 0)
            return fail(o, "expected raster-line command ESC ( F for plane " + planeName(selection[nextPlane]) +
                               " of " + bandWhere() + ", found " + letterName(letter));
        return true;
    }

    bool needHeader(size_t o, const char *what) {
        if (page->bandHeight == 0)
            return fail(o, std::string("expected job header ESC ( I, ESC ( J before ") + what);
        return true;
    }

    void record(size_t o, uint8_t letter, uint32_t n, int64_t band, uint8_t plane, std::string meaning) {
        ++r.commandCount;
        if (r.commands.size() < lim.maxCommands)
            r.commands.push_back(StreamCommand{o, letter, n, int(r.pages.size()) - 1, band, plane, std::move(meaning)});
    }

    bool setUp(size_t o, uint32_t n) {
        if (n != 1)
            return fail(o + 3, "expected parameter length 1 for set-up command ESC ( b, found " + std::to_string(n));
        if (d[o + 5] != 1)
            return fail(o + 5, "expected set-up parameter 0x01, found " + hexByte(d[o + 5]));
        if (int(r.pages.size()) >= lim.maxPages)
            return fail(o, "expected at most " + std::to_string(lim.maxPages) + " pages");
        r.pages.emplace_back();
        page = &r.pages.back();
        selection.clear();
        selectionIndex.clear();
        nextPlane = 0;
        record(o, 'b', n, 0, 0, "set-up, page " + std::to_string(r.pages.size()));
        return true;
    }

    bool headerStart(size_t o, uint32_t n) {
        if (n != 1)
            return fail(o + 3, "expected parameter length 1 for ESC ( I, found " + std::to_string(n));
        if (d[o + 5] != 1)
            return fail(o + 5, "expected ESC ( I parameter 0x01, found " + hexByte(d[o + 5]));
        awaitingJ = true;
        record(o, 'I', n, page->bands, 0, "job header");
        return true;
    }

    bool bandHeight(size_t o, uint32_t n) {
        if (!awaitingJ)
            return fail(o, "expected ESC ( I before band-height command ESC ( J");
        awaitingJ = false;
        if (n != 1)
            return fail(o + 3, "expected parameter length 1 for ESC ( J, found " + std::to_string(n));
        uint8_t h = d[o + 5];
        if (h != 8 && h != 16)
            return fail(o + 5, "expected band height 8 or 16, found " + std::to_string(h));
        std::string meaning = "band height " + std::to_string(h);
        if (page->bandHeight != 0) {
            // A repeated header is a banner form feed: it marks the form, the paper stays.
            if (page->bandHeight != h)
                return fail(o + 5, "expected band height " + std::to_string(page->bandHeight) +
                                       " as set earlier on the page, found " + std::to_string(h));
            page->formMarks.push_back(page->bands);
            meaning += ", form mark at band " + std::to_string(page->bands);
        }
        page->bandHeight = h;
        record(o, 'J', n, page->bands, 0, std::move(meaning));
        return true;
    }

    bool colourSelect(size_t o, uint32_t n) {
        if (!needHeader(o, "colour select ESC ( L"))
            return false;
        if (n < 1 || n > 7)
            return fail(o + 3, "expected 1 to 7 plane letters in colour select, found length " + std::to_string(n));
        selection.clear();
        selectionIndex.clear();
        std::string meaning = "colour select";
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t c = d[o + 5 + i];
            if (!isPlaneLetter(c))
                return fail(o + 5 + i, "expected plane letter C, M, Y, K, 0xC3, 0xCD or 0xD9, found " + hexByte(c));
            for (uint8_t s : selection)
                if (s == c)
                    return fail(o + 5 + i, "expected each plane once in colour select, found " + planeName(c) + " again");
            selection.push_back(c);
            size_t idx = 0;
            while (idx < page->planes.size() && page->planes[idx].letter != c)
                ++idx;
            if (idx == page->planes.size())
                page->planes.push_back(DecodedPlane{c, {}});
            selectionIndex.push_back(idx);
            meaning += " " + planeName(c);
        }
        record(o, 'L', n, page->bands, 0, std::move(meaning));
        return true;
    }

    bool rasterSkip(size_t o, uint32_t n) {
        if (!needHeader(o, "raster skip ESC ( e"))
            return false;
        if (n != 2)
            return fail(o + 3, "expected parameter length 2 for raster skip ESC ( e, found " + std::to_string(n));
        int count = d[o + 5] * 256 + d[o + 6];
        if (count < 1 || count > kMaxSkip)
            return fail(o + 5, "expected skip count 1 to 32767, found " + std::to_string(count));
        int64_t to = page->bands + count;
        if (to * page->bandHeight > lim.maxLines)
            return fail(o + 5, "expected skip within the page limit of " + std::to_string(lim.maxLines) +
                                   " lines, found skip to line " + std::to_string(to * page->bandHeight));
        record(o, 'e', n, page->bands, 0,
               "raster skip " + std::to_string(count) + " bands to band " + std::to_string(to));
        page->bands = to;
        return true;
    }

    bool rasterLines(size_t o, uint32_t n) {
        if (!needHeader(o, "raster-line command ESC ( F"))
            return false;
        if (selection.empty())
            return fail(o, "expected colour select ESC ( L before raster-line command ESC ( F");
        const int h = page->bandHeight;
        const int64_t band = page->bands;
        if ((band + 1) * h > lim.maxLines)
            return fail(o, "expected band within the page limit of " + std::to_string(lim.maxLines) +
                               " lines, found band " + std::to_string(band));
        const uint8_t letter = selection[nextPlane];
        DecodedPlane &plane = page->planes[selectionIndex[nextPlane]];
        std::string meaning = "raster lines " + planeName(letter) + " band " + std::to_string(band);
        if (n == 0) {
            meaning += ": blank";
        } else {
            size_t pos = o + 5;
            const size_t end = pos + n;
            int inked = 0;
            int64_t bytes = 0;
            for (int line = 0; line < h; ++line) {
                std::vector<uint8_t> row;
                size_t itemStart = pos;
                LineEnd e = decodeItems(d, pos, end, row);
                switch (e) {
                case LineEnd::EndOfLine:
                    break;
                case LineEnd::OutOfData:
                    return fail(end, "expected " + std::to_string(h) + " lines ended by 0x80 in raster-line command at offset " +
                                         std::to_string(o) + ", found " + std::to_string(line));
                case LineEnd::Overrun:
                    return fail(pos, "expected PackBits item " + hexByte(d[pos]) +
                                         " to end inside its raster-line command (ends at offset " + std::to_string(end) + ")");
                case LineEnd::TooLong:
                    return fail(pos, "expected line " + std::to_string(line) + " to decode to fewer than 65536 bytes");
                }
                if (row.empty())
                    continue;
                bytes += int64_t(row.size());
                ++inked;
                if (!lim.keepRows)
                    continue;
                decodedBytes += int64_t(row.size());
                if (decodedBytes > lim.maxDecodedBytes)
                    return fail(itemStart, "expected at most " + std::to_string(lim.maxDecodedBytes) +
                                               " decoded bytes in the stream");
                plane.rows[band * h + line] = std::move(row);
            }
            if (pos != end)
                return fail(pos, "expected end of raster-line command after " + std::to_string(h) +
                                     " lines, found more data");
            if (inked)
                bandInked = true;
            meaning += ": " + std::to_string(inked) + " inked lines, " + std::to_string(bytes) + " bytes";
        }
        ++page->rasterCommands;
        record(o, 'F', n, band, letter, std::move(meaning));
        if (++nextPlane == selection.size()) {
            nextPlane = 0;
            if (bandInked)
                ++page->inkedBands;
            bandInked = false;
            ++page->bands;
        }
        return true;
    }

    bool run() {
        size_t o = 0;
        if (size == 0)
            return fail(0, "expected set-up command ESC ( b, found an empty stream");
        while (o < size) {
            if (d[o] != kEsc)
                return fail(o, "expected ESC (0x1B) starting a command, found " + hexByte(d[o]));
            if (size - o < 2)
                return fail(size, "expected '(' after ESC, found end of stream");
            if (d[o + 1] != '(')
                return fail(o + 1, "expected '(' after ESC, found " + hexByte(d[o + 1]));
            if (size - o < 3)
                return fail(size, "expected command letter after ESC (, found end of stream");
            const uint8_t letter = d[o + 2];
            if (letter != 'b' && letter != 'I' && letter != 'J' && letter != 'L' && letter != 'e' && letter != 'F')
                return fail(o + 2, "expected command letter b, I, J, L, e or F, found " + letterName(letter));
            if (size - o < 5)
                return fail(size, "expected 16-bit parameter length of ESC ( " + std::string(1, char(letter)) +
                                      ", found end of stream");
            const uint32_t n = d[o + 3] | uint32_t(d[o + 4]) << 8;
            if (size - o - 5 < n)
                return fail(size, "expected " + std::to_string(n) + " parameter bytes of ESC ( " +
                                      std::string(1, char(letter)) + " at offset " + std::to_string(o) +
                                      ", found " + std::to_string(size - o - 5) + " before end of stream");
            if (!page && letter != 'b')
                return fail(o, "expected set-up command ESC ( b first, found " + letterName(letter));
            if (awaitingJ && letter != 'J')
                return fail(o, "expected band-height command ESC ( J after ESC ( I, found " + letterName(letter));
            if (letter != 'F' && !checkBandBoundary(o, letter))
                return false;
            bool good = false;
            switch (letter) {
            case 'b': good = setUp(o, n); break;
            case 'I': good = headerStart(o, n); break;
            case 'J': good = bandHeight(o, n); break;
            case 'L': good = colourSelect(o, n); break;
            case 'e': good = rasterSkip(o, n); break;
            case 'F': good = rasterLines(o, n); break;
            }
            if (!good)
                return false;
            o += 5 + size_t(n);
        }
        if (awaitingJ)
            return fail(size, "expected band-height command ESC ( J after ESC ( I, found end of stream");
        if (nextPlane != 0)
            return fail(size, "expected raster-line command ESC ( F for plane " + planeName(selection[nextPlane]) +
                                  " of " + bandWhere() + ", found end of stream");
        r.ok = true;
        return true;
    }
};

} // namespace

std::string planeName(uint8_t letter) {
    switch (letter) {
    case 'C': return "C";
    case 'M': return "M";
    case 'Y': return "Y";
    case 'K': return "K";
    case 0xC3: return "C3";
    case 0xCD: return "CD";
    case 0xD9: return "D9";
    default: return hexByte(letter);
    }
}

const DecodedPlane *DecodedPage::plane(uint8_t letter) const {
    for (const DecodedPlane &p : planes)
        if (p.letter == letter)
            return &p;
    return nullptr;
}

bool unpackLine(const uint8_t *data, size_t size, std::vector<uint8_t> &out, std::string *why) {
    out.clear();
    size_t pos = 0;
    LineEnd e = decodeItems(data, pos, size, out);
    std::string w;
    switch (e) {
    case LineEnd::OutOfData: return true;
    case LineEnd::EndOfLine: w = "end-of-line byte 0x80 inside the items at offset " + std::to_string(pos - 1); break;
    case LineEnd::Overrun: w = "item at offset " + std::to_string(pos) + " runs past the data"; break;
    case LineEnd::TooLong: w = "line reaches 65536 bytes at offset " + std::to_string(pos); break;
    }
    if (why)
        *why = w;
    return false;
}

DecodeResult decodeStream(const uint8_t *data, size_t size, const StreamLimits &limits) {
    DecodeResult r;
    Walker w(data, size, limits, r);
    w.run();
    return r;
}

} // namespace qx316
