// The model 316 printer application: its state and the parts that PAPPL
// calls back (drivers, raster job, PDF rendering, job checks, web footer).
#ifndef QX316_PRINTER_APP_APP_H
#define QX316_PRINTER_APP_APP_H

#include "caps.h"
#include "pappl_api.h"

#include <array>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx316::app {

constexpr int kHeads = 3;
constexpr const char *kStreamFormat = "application/vnd.qx-model316";

// One driver per print head: what it offers and the IPP words for it.
struct App;
struct HeadDriver {
    App *app = nullptr;
    HeadCaps caps;
    std::string name;         // "qx316-h0"
    std::string description;  // "QX model 316, print head 0"
    std::string deviceId;
    std::vector<std::string> mediaSizes; // PWG names, custom range last
    std::vector<std::string> mediaTypes; // media choice keywords
};

struct App {
    std::string stateDir;   // state file, spool, log, domain socket
    std::string spoolDir;
    std::string stateFile;
    std::string logFile;
    std::string footer;
    std::string pdftoppm = "pdftoppm";
    std::vector<std::string> hostNames; // what a request's Host may name (access.h), besides the machine's names
    bool beyondLoopback = false;        // listens on addresses other than loopback
    std::string strings;                // readable names (caps.h's ippStrings())
    std::string stringsUri;             // where IPP clients fetch them; empty outside the server
    std::array<HeadDriver, kHeads> heads;
    std::array<pappl_pr_driver_t, kHeads> driverList{};
    pappl_system_t *system = nullptr;
};

// The names a request's Host may give: app.hostNames, the system's and the
// machine's host names (and its .local name) and, when the server listens
// beyond loopback, the addresses of the machine's interfaces.
std::vector<std::string> serverNames(const App &app);
// From here on every HTTP and IPP request the server reads is refused (400
// Bad Request) unless its Host is one of serverNames(app); local-socket
// requests pass.
void checkRequestHosts(App &app);

// From here on the server's TLS credentials are made and read in dir
// (created when missing). False when dir cannot be made.
bool keepCredentialsIn(const std::string &dir);

// Fills app.heads and app.driverList from the kit's tables.
void initDrivers(App &app);
// PAPPL's driver callback (data = App).
bool driverCallback(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *device_id,
                    pappl_pr_driver_data_t *data, ipp_t **attrs, void *cbdata);
// PAPPL's call after a printer is made or loaded: its supplies.
void printerCreated(pappl_printer_t *printer, void *data);
// The PDF MIME filter (data = App).
bool pdfFilter(pappl_job_t *job, pappl_device_t *device, void *data);
// PWG raster files (the test page).
bool pwgFilter(pappl_job_t *job, pappl_device_t *device, void *data);
// PNG files, read with libpng.
bool pngFilter(pappl_job_t *job, pappl_device_t *device, void *data);
// JPEG files, read with libjpeg.
bool jpegFilter(pappl_job_t *job, pappl_device_t *device, void *data);

// The picture filters' bounds: the largest file they read and the most
// pixels they print (an A4 page at 600 dpi and a little more).
constexpr off_t kMaxPictureFile = off_t(128) << 20;
constexpr int64_t kMaxPicturePixels = 40000000;
// Ends the job on a damaged or unsuitable document: why is logged and becomes
// the job's message, with the reason document-format-error. Returns false.
bool failDocument(pappl_job_t *job, const std::string &why);
// Reads the job's file whole into bytes. False, with the job failed as
// failDocument() does, when the file is gone, larger than kMaxPictureFile
// or unreadable; kind ("PNG") names the format in the message.
bool readPictureFile(pappl_job_t *job, const char *kind, std::vector<uint8_t> &bytes);
// True when a width x height picture is within kMaxPicturePixels; otherwise
// fails the job with the picture's size.
bool picturePixelsFit(pappl_job_t *job, const char *kind, int64_t width, int64_t height);
// Places 8-bit gray (channels 1) or RGB (channels 3) samples on the page
// with PAPPL's image code at ppi pixels per inch (0: not known), with the
// picture's own ICC profile (empty: none) for the colour transform. A colour
// picture in a monochrome job prints as its luma, without its profile.
bool printPicture(pappl_job_t *job, pappl_device_t *device, const uint8_t *pixels, int width, int height,
                  int channels, int ppi, std::vector<uint8_t> profile);

// Claims the job for this thread at the start of a filter or of the raster
// callbacks (see job_guard.h). True: this thread prints the job and calls
// releaseJob() with its result when it is done. False: the job was printed
// by another thread, and result is what that thread finished it with. A
// thread that PAPPL started for a job another thread is printing never
// returns: it waits for the process to end, so that PAPPL does not finish
// the job a second time (which would end the device and the printer's
// current job under the owner's feet).
bool claimJob(pappl_job_t *job, bool &result);
void releaseJob(pappl_job_t *job, bool ok);

// A filter's whole work on a claimed job: print() runs only when this thread
// owns the job, which it releases with print()'s result.
template <typename Print>
bool printClaimed(pappl_job_t *job, Print &&print) {
    bool result = false;
    if (!claimJob(job, result))
        return result;
    const bool ok = print();
    releaseJob(job, ok);
    return ok;
}

// The system's event callback: tells job_threads.cpp which thread
// arguments are jobs.
void jobEvent(pappl_system_t *system, pappl_printer_t *printer, pappl_job_t *job, pappl_event_t event, void *data);

// The raster callbacks, also driven by the PDF filter.
// A document's embedded ICC profile (gray or RGB) for the job's colour
// transform, set by a filter around its raster calls and forgotten with an
// empty one.
void setDocumentProfile(pappl_job_t *job, std::vector<uint8_t> profile);

bool rasterStartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool rasterStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool rasterWriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
                     const unsigned char *line);
bool rasterEndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool rasterEndJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// The request of a job: its IPP choices (job options, else the printer's
// defaults) in the library's codes. False with the reason in err when a
// value is not one the driver offers.
bool jobRequest(pappl_printer_t *printer, const pappl_pr_options_t *options, Request &r, std::string &err);

} // namespace qx316::app

#endif
