// What the picture filters (PNG, JPEG) share: reading the job's file with a bound,
// ending a job on a damaged document with the reason, and placing a decoded
// picture on the page through PAPPL's image code with the picture's own
// ICC profile for the colour transform.
#include "app.h"
#include "image.h"

#include <sys/stat.h>

namespace qx316::app {

bool failDocument(pappl_job_t *job, const std::string &why) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", why.c_str());
    papplJobSetMessage(job, "%s", why.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    return false;
}

bool readPictureFile(pappl_job_t *job, const char *kind, std::vector<uint8_t> &bytes) {
    const char *name = papplJobGetFilename(job);
    struct stat st;
    std::string err;
    if (!name || ::stat(name, &st) != 0)
        return failDocument(job, "the job's file is gone");
    if (st.st_size > kMaxPictureFile)
        return failDocument(job, std::string("the ") + kind + " file is larger than " +
                                     std::to_string(kMaxPictureFile >> 20) + " MiB");
    if (!readFileBytes(name, bytes, err))
        return failDocument(job, err);
    return true;
}

bool picturePixelsFit(pappl_job_t *job, const char *kind, int64_t width, int64_t height) {
    if (width * height <= kMaxPicturePixels)
        return true;
    return failDocument(job, std::string("the ") + kind + " picture has " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels; at most " +
                                 std::to_string(kMaxPicturePixels / 1000000) + " million print");
}

bool printPicture(pappl_job_t *job, pappl_device_t *device, const uint8_t *pixels, int width, int height,
                  int channels, int ppi, std::vector<uint8_t> profile) {
    pappl_pr_options_t *options = papplJobCreatePrintOptions(job, 1, channels == 3);
    if (!options)
        return false;
    // PAPPL's image code copies each pixel's first samples into the raster
    // line as they are: it wants the picture in the raster's layout, gray (a
    // monochrome job) or RGB. A picture turned from one to the other no longer
    // matches its own profile, which is then left out.
    const int want = options->header.cupsNumColors == 1 ? 1 : 3;
    std::vector<uint8_t> turned;
    if (want != channels) {
        const size_t n = size_t(width) * size_t(height);
        turned.resize(n * size_t(want));
        for (size_t i = 0; i < n; ++i) {
            if (want == 1) // luma, Rec. 601 weights in 1/256
                turned[i] =
                    uint8_t((77u * pixels[3 * i] + 150u * pixels[3 * i + 1] + 29u * pixels[3 * i + 2] + 128u) >> 8);
            else
                turned[3 * i] = turned[3 * i + 1] = turned[3 * i + 2] = pixels[i];
        }
        pixels = turned.data();
        channels = want;
        if (!profile.empty())
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "The picture is printed in %s: its own ICC profile is left out",
                        want == 1 ? "gray" : "RGB");
        profile.clear();
    }
    setDocumentProfile(job, std::move(profile));
    const bool ok = papplJobFilterImage(job, device, options, pixels, width, height, channels, ppi, false);
    papplJobDeletePrintOptions(options);
    setDocumentProfile(job, {});
    return ok;
}

} // namespace qx316::app
