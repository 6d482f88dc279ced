// The drivers (one per print head), the test page and the
// raster callbacks, which map one to one onto the kit's push API.
#include "app.h"
#include "job_guard.h"

#include "colour.h"
#include "device.h"
#include "job.h"
#include "qx316_stream.h"
#include "testpage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace qx316::app {

namespace {


struct NamedSize {
    const char *pwg;
    int widthHmm, lengthHmm;
};
constexpr NamedSize kSizes[] = {
    {"iso_a4_210x297mm", 21000, 29700},
    {"na_letter_8.5x11in", 21590, 27940},
    {"na_legal_8.5x14in", 21590, 35560},
    {"iso_a5_148x210mm", 14800, 21000},
};
constexpr int kCustomMinHmm = 2540;       // 1 in
constexpr int kCustomMaxLengthHmm = 100000; // 1 m

int hmmToDots(int hmm) { return int(std::lround(double(hmm) * kDpi / 2540.0)); }

HeadDriver *headOf(pappl_printer_t *printer) {
    pappl_pr_driver_data_t dd;
    if (!printer || !papplPrinterGetDriverData(printer, &dd))
        return nullptr;
    return static_cast<HeadDriver *>(dd.extension);
}

// A job's state between the raster callbacks.
struct JobState {
    std::unique_ptr<Job> job;
    Resolved resolved;
    pappl_device_t *device = nullptr;
    RowFormat format = RowFormat::Rgb8;
    size_t rowBytes = 0;
    int height = 0;
    bool cancelled = false;
    bool failed = false;
};

JobState *stateOf(pappl_job_t *job) { return static_cast<JobState *>(papplJobGetData(job)); }

bool kitFailed(pappl_job_t *job, JobState *st, const char *where) {
    st->failed = true;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s: %s", where, st->job->error().c_str());
    papplJobSetMessage(job, "%s", st->job->error().c_str());
    return false;
}

// Stops at the current line: the kit ends the page and the job there, so
// what reached the device is a whole stream.
void stopForCancel(pappl_job_t *job, JobState *st) {
    if (st->cancelled)
        return;
    st->cancelled = true;
    const int rc = st->job->cancel();
    if (rc == kOk)
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Cancelled at line %d: the printer stream ends with the page",
                    st->job->rowsWritten());
    else
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cancelled, but the stream could not be ended: %s",
                    st->job->error().c_str());
}

const char *testpageCallback(pappl_printer_t *printer, char *buffer, size_t bufsize);

constexpr size_t kMaxStreamFile = size_t(512) << 20;

bool printStreamFileClaimed(pappl_job_t *job, pappl_device_t *device);

// A job in the printer's own format: passed to the device only when the
// printer-side decoder reads all of it, so a broken stream never reaches
// the printer.
bool printStreamFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    return printClaimed(job, [&] { return printStreamFileClaimed(job, device); });
}

bool printStreamFileClaimed(pappl_job_t *job, pappl_device_t *device) {
    const char *name = papplJobGetFilename(job);
    std::vector<uint8_t> bytes;
    FILE *f = name ? std::fopen(name, "rb") : nullptr;
    if (!f) {
        papplJobSetMessage(job, "cannot open the job's file");
        return false;
    }
    uint8_t buf[65536];
    size_t n;
    bool tooBig = false;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes.size() + n > kMaxStreamFile) {
            tooBig = true;
            break;
        }
        bytes.insert(bytes.end(), buf, buf + n);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (tooBig || readError) {
        papplJobSetMessage(job, tooBig ? "the stream is larger than 512 MiB" : "cannot read the job's file");
        return false;
    }
    // Checked line by line without keeping the decoded lines: the check
    // costs no more memory than the stream itself.
    StreamLimits limits;
    limits.keepRows = false;
    limits.maxCommands = 0;
    const DecodeResult r = decodeStream(bytes.data(), bytes.size(), limits);
    if (!r.ok) {
        // PAPPL's log formatter takes no size_t conversions: the words are
        // made here.
        const std::string why =
            "not a whole model 316 stream: at byte " + std::to_string(r.errorOffset) + ", " + r.error;
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
        papplJobSetMessage(job, "%s", why.c_str());
        return false;
    }
    for (size_t off = 0; off < bytes.size();) {
        if (papplJobIsCanceled(job))
            return true; // nothing more is sent; what was sent ends at a chunk the printer reads whole
        const size_t len = std::min(bytes.size() - off, sizeof buf);
        if (papplDeviceWrite(device, bytes.data() + off, len) != ssize_t(len)) {
            papplJobSetMessage(job, "cannot write to the printer");
            return false;
        }
        off += len;
    }
    papplJobSetImpressions(job, int(r.pages.size()));
    papplJobSetImpressionsCompleted(job, int(r.pages.size()));
    return true;
}

// Jobs being printed, by job id; never destroyed, as threads parked by
// claimJob() may outlive static destruction at exit.
JobGuard &guard() {
    static JobGuard *g = new JobGuard;
    return *g;
}

} // namespace

namespace {

// PAPPL numbers jobs per printer.
int64_t jobKey(pappl_job_t *job) {
    return int64_t(papplPrinterGetID(papplJobGetPrinter(job))) << 32 | uint32_t(papplJobGetID(job));
}

} // namespace

bool claimJob(pappl_job_t *job, bool &result) {
    const int64_t id = jobKey(job);
    switch (guard().enter(id)) {
    case JobGuard::Claim::Owner:
        return true;
    case JobGuard::Claim::Finished:
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Started again after it ended; left as it ended");
        result = guard().finishedResult(id);
        return false;
    case JobGuard::Claim::Duplicate:
        break;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "Started a second time while it prints; the second start waits");
    for (;;)
        ::pause();
}

void releaseJob(pappl_job_t *job, bool ok) { guard().leave(jobKey(job), ok); }

void initDrivers(App &app) {
    for (int h = 0; h < kHeads; ++h) {
        HeadDriver &d = app.heads[size_t(h)];
        d.app = &app;
        d.caps = headCaps(h);
        d.name = "qx316-h" + std::to_string(h);
        d.description = "QX model 316, print head " + std::to_string(h);
        d.deviceId = "MFG:QX;MDL:model 316;CMD:QX316;DES:model 316 print head " + std::to_string(h) + ";";
        const int maxHmm = int(double(d.caps.maxWidth) * 2540.0 / kDpi); // rounded down
        for (const NamedSize &s : kSizes)
            if (hmmToDots(s.widthHmm) <= d.caps.maxWidth)
                d.mediaSizes.push_back(s.pwg);
        // Self-describing size names as PWG 5101.1 writes them (no
        // trailing zeros: "custom_max_232.66x1000mm").
        char custom[64];
        if (pwgFormatSizeName(custom, sizeof custom, "custom", "min", kCustomMinHmm, kCustomMinHmm, "mm"))
            d.mediaSizes.push_back(custom);
        if (pwgFormatSizeName(custom, sizeof custom, "custom", "max", maxHmm, kCustomMaxLengthHmm, "mm"))
            d.mediaSizes.push_back(custom);
        for (const Choice *m : d.caps.media)
            d.mediaTypes.push_back(m->keyword);
        app.driverList[size_t(h)] = {d.name.c_str(), d.description.c_str(), d.deviceId.c_str(), &d};
    }
}

bool driverCallback(pappl_system_t *, const char *driver_name, const char *, const char *,
                    pappl_pr_driver_data_t *data, ipp_t **attrs, void *cbdata) {
    App &app = *static_cast<App *>(cbdata);
    HeadDriver *d = nullptr;
    for (HeadDriver &h : app.heads)
        if (driver_name && h.name == driver_name)
            d = &h;
    if (!d || d->caps.media.empty())
        return false;

    data->extension = d;
    data->rstartjob_cb = rasterStartJob;
    data->rstartpage_cb = rasterStartPage;
    data->rwriteline_cb = rasterWriteLine;
    data->rendpage_cb = rasterEndPage;
    data->rendjob_cb = rasterEndJob;
    data->testpage_cb = testpageCallback;
    // No light, sound or display: identify has nothing honest to do. The
    // inks are reported as supplies whose level is not known (see
    // printerCreated()).
    data->identify_cb = nullptr;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_NONE;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_NONE;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;

    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", d->description.c_str());
    // PAPPL refuses a driver without a positive pages-per-minute value; the
    // speed of the model 316 is not measured here, so the lowest value is
    // given rather than a claim.
    data->ppm = 1;
    // PAPPL derives color-supported from this, and CUPS's driverless
    // queues from that: without it every job through CUPS is gray.
    data->ppm_color = d->caps.color ? 1 : 0;
    data->kind = PAPPL_KIND_DOCUMENT;
    // The printer's own stream, sent as it is after the strict decoder has
    // read it. PAPPL 1.3 also compares every job's format with this one and
    // fails on a driver without it.
    data->format = kStreamFormat;
    data->printfile_cb = printStreamFile;
    data->color_supported = PAPPL_COLOR_MODE_MONOCHROME;
    if (d->caps.color)
        data->color_supported = pappl_color_mode_t(data->color_supported | PAPPL_COLOR_MODE_COLOR);
    data->color_default = d->caps.defaultMonochrome ? PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_COLOR;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->raster_types = pappl_raster_type_t(PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8);
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = kDpi;
    data->x_default = data->y_default = kDpi;
    data->borderless = false;
    data->left_right = kMarginHmm;
    data->bottom_top = kMarginHmm;

    data->num_media = int(d->mediaSizes.size());
    for (size_t i = 0; i < d->mediaSizes.size() && i < PAPPL_MAX_MEDIA; ++i)
        data->media[i] = d->mediaSizes[i].c_str();
    data->num_source = 1;
    data->source[0] = "main";
    data->num_type = int(d->mediaTypes.size());
    for (size_t i = 0; i < d->mediaTypes.size() && i < PAPPL_MAX_TYPE; ++i)
        data->type[i] = d->mediaTypes[i].c_str();

    pappl_media_col_t &m = data->media_default;
    std::memset(&m, 0, sizeof m);
    const NamedSize &a4 = kSizes[0];
    m.size_width = a4.widthHmm;
    m.size_length = a4.lengthHmm;
    m.bottom_margin = m.top_margin = m.left_margin = m.right_margin = kMarginHmm;
    std::snprintf(m.size_name, sizeof m.size_name, "%s", a4.pwg);
    std::snprintf(m.source, sizeof m.source, "main");
    const Choice *dm = choiceByCode(OptionId::Media, d->caps.defaultMedia);
    std::snprintf(m.type, sizeof m.type, "%s", dm ? dm->keyword : "");
    data->media_ready[0] = m;

    // Options IPP has no word for, named and valued from the option table.
    static std::string vendorNames[3];
    vendorNames[0] = ippName(OptionId::Composite);
    vendorNames[1] = ippName(OptionId::Paper);
    vendorNames[2] = ippName(OptionId::FormLength);
    data->num_vendor = 3;
    for (int i = 0; i < 3; ++i)
        data->vendor[i] = vendorNames[i].c_str();

    ipp_t *a = ippNew();
    // The rendering intents the kit's colour transform honours.
    std::vector<const char *> intents;
    for (const IntentInfo &i : intentTable())
        intents.push_back(i.keyword);
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
                 intentKeyword(Intent::Auto));
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", int(intents.size()),
                  nullptr, intents.data());
    ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    // One-sided only: no back side to turn.
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
    std::vector<const char *> composite;
    for (const Choice &c : optionInfo(OptionId::Composite).choices)
        if (d->caps.composite[c.code ? 1 : 0])
            composite.push_back(c.keyword);
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (vendorNames[0] + "-supported").c_str(), int(composite.size()),
                  nullptr, composite.data());
    const Choice *compDefault = choiceByCode(OptionId::Composite, optionInfo(OptionId::Composite).defaultCode);
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (vendorNames[0] + "-default").c_str(), nullptr,
                 d->caps.composite[0] ? compDefault->keyword : composite.front());
    std::vector<const char *> paper;
    for (const Choice &c : optionInfo(OptionId::Paper).choices)
        paper.push_back(c.keyword);
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (vendorNames[1] + "-supported").c_str(), int(paper.size()),
                  nullptr, paper.data());
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, (vendorNames[1] + "-default").c_str(), nullptr,
                 choiceByCode(OptionId::Paper, optionInfo(OptionId::Paper).defaultCode)->keyword);
    ippAddRange(a, IPP_TAG_PRINTER, (vendorNames[2] + "-supported").c_str(), 0, kMaxFormLength);
    ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, (vendorNames[2] + "-default").c_str(),
                  optionInfo(OptionId::FormLength).defaultCode);
    // The readable names of the media types and of the options above (see
    // addStrings() in main.cpp), in English only.
    if (!app.stringsUri.empty()) {
        ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_URI, "printer-strings-uri", nullptr, app.stringsUri.c_str());
        ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "printer-strings-languages-supported", nullptr, "en");
    }
    *attrs = a;
    return true;
}

void printerCreated(pappl_printer_t *printer, void *) {
    HeadDriver *d = headOf(printer);
    if (!d)
        return;
    // The host never learns how much ink is left: the level is unknown
    // (-2, as PWG 5100.13 writes it).
    struct Ink {
        pappl_supply_color_t color;
        const char *name;
    };
    static const Ink kInks[] = {{PAPPL_SUPPLY_COLOR_CYAN, "Cyan ink"},
                                {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta ink"},
                                {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow ink"},
                                {PAPPL_SUPPLY_COLOR_BLACK, "Black ink"}};
    pappl_supply_t supplies[4];
    int n = 0;
    for (const Ink &ink : kInks) {
        if (!d->caps.color && ink.color != PAPPL_SUPPLY_COLOR_BLACK)
            continue;
        pappl_supply_t &s = supplies[n++];
        std::memset(&s, 0, sizeof s);
        s.color = ink.color;
        std::snprintf(s.description, sizeof s.description, "%s", ink.name);
        s.is_consumed = true;
        s.level = -2;
        s.type = PAPPL_SUPPLY_TYPE_INK;
    }
    papplPrinterSetSupplies(printer, n, supplies);
}

bool jobRequest(pappl_printer_t *printer, const pappl_pr_options_t *options, Request &r, std::string &err) {
    HeadDriver *d = headOf(printer);
    if (!d) {
        err = "the printer has no model 316 driver";
        return false;
    }
    r = Request();
    r.head = d->caps.head;
    const Choice *media = findChoice(OptionId::Media, options->media.type);
    if (!media) {
        err = std::string("media type \"") + options->media.type + "\" is not one the printer offers";
        return false;
    }
    r.media = media->code;
    r.quality = options->print_quality == IPP_QUALITY_DRAFT  ? IppQuality::Draft
                : options->print_quality == IPP_QUALITY_HIGH ? IppQuality::High
                                                             : IppQuality::Normal;
    r.monochrome = !(options->print_color_mode & (PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_AUTO));
    const OptionId vendor[] = {OptionId::Composite, OptionId::Paper, OptionId::FormLength};
    PrintOptions o;
    for (OptionId id : vendor) {
        const char *v = cupsGetOption(ippName(id).c_str(), options->num_vendor, options->vendor);
        if (!v)
            continue;
        if (!setOption(o, id, v, err))
            return false;
    }
    r.composite = o.composite;
    r.banner = o.banner;
    r.formLength = o.formLength;
    r.pageWidth = hmmToDots(options->media.size_width);
    r.pageLines = hmmToDots(options->media.size_length);
    return true;
}

namespace {

bool startJobClaimed(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

} // namespace

// The job is claimed from here to rasterEndJob(), which PAPPL calls only
// after a start that succeeded: a failed start releases its claim itself.
bool rasterStartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    bool result = false;
    if (!claimJob(job, result))
        return false;
    if (stateOf(job)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job was started twice");
        releaseJob(job, false);
        return false;
    }
    const bool ok = startJobClaimed(job, options, device);
    if (!ok) {
        delete stateOf(job);
        papplJobSetData(job, nullptr);
        releaseJob(job, false);
    }
    return ok;
}

namespace {

std::mutex &profilesLock() {
    static std::mutex m;
    return m;
}
std::map<pappl_job_t *, std::vector<uint8_t>> &documentProfiles() {
    static auto *m = new std::map<pappl_job_t *, std::vector<uint8_t>>; // outlives job threads at exit
    return *m;
}

std::vector<uint8_t> documentProfile(pappl_job_t *job) {
    const std::lock_guard<std::mutex> hold(profilesLock());
    const auto it = documentProfiles().find(job);
    return it == documentProfiles().end() ? std::vector<uint8_t>() : it->second;
}

// The job's colour transform: the job's print-rendering-intent (one the
// printer does not offer prints as auto, with a warning), to the ink profile
// of the job's media from the printer's profile folder
// (STATE/profiles/PRINTER-ID/MEDIA.icc, else default.icc there, else the
// built-in model's). A profile that cannot be used is logged and the
// built-in one prints.
void setColour(pappl_job_t *job, JobState *s) {
    Intent intent = Intent::Auto;
    if (ipp_attribute_t *a = papplJobGetAttribute(job, "print-rendering-intent")) {
        const char *v = ippGetString(a, 0, nullptr);
        if (v && !findIntent(v, intent))
            papplLogJob(job, PAPPL_LOGLEVEL_WARN, "print-rendering-intent %s is not offered; printing with auto", v);
    }
    ColourSettings colour;
    colour.intent = intent;
    colour.pageProfile = documentProfile(job);
    pappl_printer_t *printer = papplJobGetPrinter(job);
    const HeadDriver *d = headOf(printer);
    std::string err, dir = "(no state folder)";
    if (d && d->app) {
        dir = d->app->stateDir + "/profiles/" + std::to_string(papplPrinterGetID(printer)) + "/";
        for (const std::string &name : {profileFileName(s->resolved.options.media), std::string(kDefaultProfileFile)}) {
            const std::string path = dir + name;
            if (access(path.c_str(), F_OK) != 0)
                continue;
            if (readProfileFile(path, colour.inkProfile, err))
                colour.inkProfileName = path;
            else
                papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; printing with the built-in ink profile", err.c_str());
            break;
        }
    }
    auto conv = makeInkConverter(colour, s->job->mode(), s->resolved.options.media, err);
    if (!conv && !err.empty() && !colour.pageProfile.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; printing the document as sRGB", err.c_str());
        colour.pageProfile.clear();
        conv = makeInkConverter(colour, s->job->mode(), s->resolved.options.media, err);
    }
    if (!conv && !err.empty() && !colour.inkProfile.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s; printing with the built-in ink profile", err.c_str());
        colour.inkProfile.clear();
        conv = makeInkConverter(colour, s->job->mode(), s->resolved.options.media, err);
    }
    if (!conv && !err.empty())
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "No colour management: %s", err.c_str());
    const std::string builtIn = "built in (none usable in " + dir + ")";
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Colour: intent %s, ink profile %s, %s", intentKeyword(intent),
                colour.inkProfile.empty() ? builtIn.c_str() : colour.inkProfileName.c_str(),
                colour.pageProfile.empty() ? "sRGB document" : "the document's own profile");
    s->job->setInkConverter(std::move(conv));
}

bool startJobClaimed(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    if (!options || !device) {
        papplJobSetMessage(job, "the job has no print options or no device");
        return false;
    }
    Request r;
    std::string err;
    if (!jobRequest(papplJobGetPrinter(job), options, r, err)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", err.c_str());
        papplJobSetMessage(job, "%s", err.c_str());
        return false;
    }
    auto st = std::make_unique<JobState>();
    st->resolved = resolve(r);
    if (!st->resolved.problem.empty()) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", st->resolved.problem.c_str());
        papplJobSetMessage(job, "%s", st->resolved.problem.c_str());
        return false;
    }
    st->device = device;
    st->job = std::make_unique<Job>(st->resolved.options);
    JobState *s = st.get();
    papplJobSetData(job, st.release());
    const int rc = s->job->begin([device](const uint8_t *data, size_t size) {
        return papplDeviceWrite(device, data, size) == ssize_t(size);
    });
    if (rc != kOk)
        return kitFailed(job, s, "job start");
    setColour(job, s);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing with quality %d, media %d, head %d, colour mode %d: %s",
                s->resolved.options.quality, s->resolved.options.media, s->resolved.options.head,
                s->resolved.options.colorMode, describeMode(s->job->mode()).c_str());
    return true;
}

bool endJobClaimed(pappl_job_t *job);

} // namespace

bool rasterStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *, unsigned page) {
    JobState *st = stateOf(job);
    if (!st || st->failed)
        return false;
    if (st->cancelled)
        return true;
    const cups_page_header2_t &h = options->header;
    PageShape shape;
    shape.width = int(h.cupsWidth);
    shape.height = int(h.cupsHeight);
    if (h.cupsBitsPerPixel == 24 && h.cupsBytesPerLine == h.cupsWidth * 3)
        shape.format = RowFormat::Rgb8;
    else if (h.cupsBitsPerPixel == 8 && h.cupsBytesPerLine == h.cupsWidth)
        shape.format = RowFormat::Gray8;
    else {
        st->failed = true;
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "page %u: %u bits per pixel is not an 8-bit gray or RGB raster", page,
                    h.cupsBitsPerPixel);
        return false;
    }
    st->format = shape.format;
    st->rowBytes = h.cupsBytesPerLine;
    st->height = shape.height;
    if (st->job->beginPage(shape) != kOk)
        return kitFailed(job, st, "page start");
    return true;
}

bool rasterWriteLine(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned y, const unsigned char *line) {
    JobState *st = stateOf(job);
    if (!st || st->failed)
        return false;
    if (st->cancelled)
        return true;
    if (papplJobIsCanceled(job)) {
        stopForCancel(job, st);
        return true;
    }
    // Lines PAPPL does not hand over are blank.
    const int gap = int(y) - st->job->rowsWritten();
    if (gap > 0 && st->job->skipRows(gap) != kOk)
        return kitFailed(job, st, "raster line");
    if (st->job->writeRow(line, st->rowBytes) != kOk)
        return kitFailed(job, st, "raster line");
    return true;
}

bool rasterEndPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *, unsigned) {
    JobState *st = stateOf(job);
    if (!st || st->failed)
        return false;
    if (st->cancelled)
        return true;
    if (papplJobIsCanceled(job)) {
        stopForCancel(job, st);
        return true;
    }
    if (st->job->endPage() != kOk)
        return kitFailed(job, st, "page end");
    return true;
}

bool rasterEndJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *) {
    bool result = false;
    if (!claimJob(job, result))
        return false;
    const bool ok = endJobClaimed(job);
    // Once for this call, once for the start's claim.
    releaseJob(job, ok);
    releaseJob(job, ok);
    return ok;
}

namespace {

bool endJobClaimed(pappl_job_t *job) {
    std::unique_ptr<JobState> st(stateOf(job));
    papplJobSetData(job, nullptr);
    if (!st)
        return false;
    if (st->cancelled)
        return true;
    if (st->failed) {
        // End what was sent at a page end, so the printer is not left
        // inside a command.
        if (st->job->code() == kOk || st->job->inPage())
            st->job->cancel();
        return false;
    }
    if (st->job->inPage() || papplJobIsCanceled(job)) {
        stopForCancel(job, st.get());
        return true;
    }
    if (st->job->end() != kOk)
        return kitFailed(job, st.get(), "job end");
    const JobStats &s = st->job->stats();
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%d pages, %llu bytes to the printer", s.pages,
                static_cast<unsigned long long>(s.outputBytes));
    return true;
}

// The built-in test page as a PWG raster at 600 dpi, written to a new file
// in the spool directory; PAPPL prints it as a job and removes it with the job.
const char *testpageCallback(pappl_printer_t *printer, char *buffer, size_t bufsize) {
    HeadDriver *d = headOf(printer);
    if (!d)
        return nullptr;
    // PAPPL 1.3 takes the test page's format from its file name's extension
    // (and fails on a name without one).
    std::snprintf(buffer, bufsize, "%s/qx316-testpage-XXXXXX.pwg", d->app->spoolDir.c_str());
    const int fd = mkstemps(buffer, 4);
    if (fd < 0) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "cannot create the test page file: %s", std::strerror(errno));
        return nullptr;
    }
    const TestPage page(kDpi);
    cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t h;
    pwg_media_t *a4 = pwgMediaForPWG("iso_a4_210x297mm");
    bool ok = ras && a4 && cupsRasterInitPWGHeader(&h, a4, "srgb_8", kDpi, kDpi, "one-sided", nullptr);
    if (ok) {
        h.cupsWidth = unsigned(page.width());
        h.cupsHeight = unsigned(page.height());
        h.cupsBytesPerLine = h.cupsWidth * 3;
        ok = cupsRasterWriteHeader2(ras, &h) != 0;
    }
    std::vector<uint8_t> row(size_t(page.width()) * 3);
    for (int y = 0; ok && y < page.height(); ++y) {
        page.row(y, row.data());
        ok = cupsRasterWritePixels(ras, row.data(), unsigned(row.size())) == row.size();
    }
    if (ras)
        cupsRasterClose(ras);
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "cannot write the test page to %s", buffer);
        ::unlink(buffer);
        return nullptr;
    }
    return buffer;
}

} // namespace

void setDocumentProfile(pappl_job_t *job, std::vector<uint8_t> profile) {
    const std::lock_guard<std::mutex> hold(profilesLock());
    if (profile.empty())
        documentProfiles().erase(job);
    else
        documentProfiles()[job] = std::move(profile);
}

} // namespace qx316::app
