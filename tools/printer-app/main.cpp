// qx316-printer-app: an IPP Everywhere printer application for the model
// 316, on PAPPL's main loop (server, add, submit, printers, jobs, shutdown
// and the other standard sub-commands).
//
// QX316_STATE_DIR=DIR keeps everything of the application in DIR: state
// file, spool, log, the local socket the sub-commands use, and temporary
// files. Otherwise the state lives in $XDG_CONFIG_HOME (or ~/.config)
// /qx316-printer-app, and PAPPL picks the socket.
#include "access.h"
#include "app.h"

#include "qxdro316.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <vector>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx316::app {

namespace {

constexpr const char *kVersion = "1.0";
constexpr const char *kBaseName = "qx316-printer-app";

bool makeDir(const std::string &dir) {
    if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST)
        return true;
    std::fprintf(stderr, "%s: cannot create %s: %s\n", kBaseName, dir.c_str(), std::strerror(errno));
    return false;
}

std::string defaultStateDir() {
    if (const char *x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::string(x) + "/" + kBaseName;
    if (const char *home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/" + kBaseName;
    return std::string("/var/lib/") + kBaseName;
}

// The state is written whole or not at all: to a temporary file beside it,
// flushed to the disk, then renamed over the old one, so that a server
// killed while it saves starts again with the previous state.
bool saveState(pappl_system_t *system, void *data) {
    const std::string &file = static_cast<App *>(data)->stateFile;
    const std::string tmp = file + ".new";
    bool ok = papplSystemSaveState(system, tmp.c_str());
    if (ok) {
        const int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (ok && std::rename(tmp.c_str(), file.c_str()) != 0)
        ok = false;
    if (!ok) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot save the state to %s: %s", file.c_str(), std::strerror(errno));
        ::unlink(tmp.c_str());
    }
    return ok;
}

// Repairs a state file left by a server that was killed: a job it was
// printing (state 5, processing) would be loaded as processing and never
// run again, so it is loaded aborted; a job listed twice in one printer is
// loaded once. The file is rewritten only when something changed.
void repairState(pappl_system_t *system, const std::string &file) {
    std::ifstream in(file);
    if (!in)
        return;
    std::string text, line;
    std::set<std::string> ids;
    int aborted = 0, dropped = 0;
    while (std::getline(in, line)) {
        if (line.rfind("<Printer", 0) == 0)
            ids.clear();
        if (line.rfind("Job ", 0) == 0) {
            const size_t at = line.find(" id=\"");
            const std::string id = at == std::string::npos ? "" : line.substr(at + 5, line.find('"', at + 5) - at - 5);
            if (!id.empty() && !ids.insert(id).second) {
                ++dropped;
                continue;
            }
            const size_t st = line.find(" state=\"5\"");
            if (st != std::string::npos) {
                line.replace(st, 10, " state=\"8\"");
                ++aborted;
            }
        }
        text += line + "\n";
    }
    if (!aborted && !dropped)
        return;
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "The server was stopped while it printed: %d job(s) that were printing load as aborted, %d listed twice "
             "load once",
             aborted, dropped);
    const std::string tmp = file + ".new";
    std::ofstream out(tmp, std::ios::trunc);
    out << text;
    out.close();
    if (!out || std::rename(tmp.c_str(), file.c_str()) != 0)
        ::unlink(tmp.c_str());
}

// Jobs loaded pending wait for PAPPL to look at the printer's queue, which
// it does only when a job arrives or ends: once the server runs, every
// printer that is not stopped looks at its queue.
bool startLoadedJobs(pappl_system_t *system, void *) {
    papplSystemIteratePrinters(
        system,
        [](pappl_printer_t *printer, void *) {
            if (papplPrinterGetState(printer) != IPP_PSTATE_STOPPED && papplPrinterGetNumberOfActiveJobs(printer) > 0)
                papplPrinterResume(printer);
        },
        nullptr);
    return false;
}

// The readable names of media types and vendor options. The web pages
// take them from PAPPL's localisations, one per language PAPPL 1.3 brings,
// all in English; IPP clients (CUPS's driverless queues) fetch them from
// the printers' printer-strings-uri, served here once for every language.
// PAPPL 1.3 adds printer-strings-languages-supported to the printer's own
// attributes again on every Get-Printer-Attributes while a strings resource
// with a language exists, so the resources that load the localisations are
// removed once loaded; the localisations keep the names. host: the name
// or address clients reach the server at, or "" for the server's own name.
void addStrings(pappl_system_t *system, App &app, const std::string &host) {
    static const char *const kLanguages[] = {"de", "en", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"};
    constexpr const char *kPath = "/qx316.strings";
    app.strings = ippStrings();
    for (const char *lang : kLanguages) {
        const std::string path = std::string("/") + lang + kPath;
        papplSystemAddStringsData(system, path.c_str(), lang, app.strings.c_str());
        papplSystemRemoveResource(system, path.c_str());
    }
    papplSystemAddResourceData(system, kPath, "text/strings", app.strings.data(), app.strings.size());
    char uri[1024];
    const std::string h = host.empty() ? (papplSystemGetHostName(system, uri, sizeof uri) ? uri : "localhost") : host;
    httpAssembleURI(HTTP_URI_CODING_ALL, uri, sizeof uri, "http", nullptr, h.c_str(), papplSystemGetHostPort(system),
                    kPath);
    app.stringsUri = uri;
}

// PAPPL 1.3's main loop waits up to 30 s for a connection or a timer and
// only then sees that a client asked it to shut down: a timer every second
// makes a shutdown take effect within a second.
bool wakeMainLoop(pappl_system_t *, void *) { return true; }

pappl_loglevel_t logLevel(const char *v) {
    if (!v)
        return PAPPL_LOGLEVEL_INFO;
    if (!std::strcmp(v, "debug"))
        return PAPPL_LOGLEVEL_DEBUG;
    if (!std::strcmp(v, "warn"))
        return PAPPL_LOGLEVEL_WARN;
    if (!std::strcmp(v, "error"))
        return PAPPL_LOGLEVEL_ERROR;
    if (!std::strcmp(v, "fatal"))
        return PAPPL_LOGLEVEL_FATAL;
    return PAPPL_LOGLEVEL_INFO;
}

// Settings and printers change only on requests whose Host and Origin name
// this server (see access.h; requests.cpp refuses other Hosts on every
// request already), and, without an authentication service, only
// from this machine (loopback or the local socket, which PAPPL lets through
// before asking).
http_status_t authorize(pappl_client_t *client, const char *, gid_t, void *data) {
    const App &app = *static_cast<const App *>(data);
    http_t *http = papplClientGetHTTP(client);
    const std::vector<std::string> names = serverNames(app);
    const char *host = httpGetField(http, HTTP_FIELD_HOST);
    const char *origin = httpGetField(http, HTTP_FIELD_ORIGIN);
    if (!hostAllowed(host ? host : "", names) || !originAllowed(origin ? origin : "", names)) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Refused: Host \"%s\", Origin \"%s\" do not name this server",
                       host ? host : "", origin ? origin : "");
        return HTTP_STATUS_FORBIDDEN;
    }
    return httpAddrLocalhost(httpGetAddress(http)) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

// The system for "server": PAPPL's standard server options (server-port,
// listen-hostname, server-hostname, log-file, log-level, spool-directory,
// auth-service) and tls=on|auto. Without listen-hostname it listens on
// loopback only; TLS is on when it listens beyond loopback (auto) or when
// tls=on, with its credentials in the state folder's ssl/.
pappl_system_t *systemCallback(int num_options, cups_option_t *options, void *data) {
    App &app = *static_cast<App *>(data);
    if (const char *v = cupsGetOption("spool-directory", num_options, options))
        app.spoolDir = v;
    if (const char *v = cupsGetOption("log-file", num_options, options))
        app.logFile = v;
    if (!makeDir(app.stateDir) || !makeDir(app.spoolDir))
        return nullptr;
    int port = 0;
    if (const char *v = cupsGetOption("server-port", num_options, options)) {
        char *end = nullptr;
        const long p = std::strtol(v, &end, 10);
        if (!end || *end || p < 1 || p > 65535) {
            std::fprintf(stderr, "%s: bad server-port value \"%s\"\n", kBaseName, v);
            return nullptr;
        }
        port = int(p);
    }
    const char *listenOption = cupsGetOption("listen-hostname", num_options, options);
    const std::string listen = listenOption && *listenOption ? listenOption : "localhost";
    const bool beyondLoopback = !isLoopbackName(listen);
    // TLS: on beyond loopback; "-o tls=on" turns it on for loopback too.
    const char *tlsOption = cupsGetOption("tls", num_options, options);
    if (tlsOption && std::strcmp(tlsOption, "on") && std::strcmp(tlsOption, "auto")) {
        std::fprintf(stderr, "%s: bad tls value \"%s\" (on or auto)\n", kBaseName, tlsOption);
        return nullptr;
    }
    const bool tls = beyondLoopback || (tlsOption && !std::strcmp(tlsOption, "on"));
    if (tls && !keepCredentialsIn(app.stateDir + "/ssl")) {
        std::fprintf(stderr, "%s: cannot create %s/ssl: %s\n", kBaseName, app.stateDir.c_str(), std::strerror(errno));
        return nullptr;
    }
    const char *authService = cupsGetOption("auth-service", num_options, options);
    pappl_soptions_t soptions =
        pappl_soptions_t(PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG);
    if (!tls)
        soptions = pappl_soptions_t(soptions | PAPPL_SOPTIONS_NO_TLS);
    pappl_system_t *system =
        papplSystemCreate(soptions, "QX model 316 printer application", port, "_print,_universal",
                          app.spoolDir.c_str(), app.logFile.c_str(),
                          logLevel(cupsGetOption("log-level", num_options, options)),
                          authService && *authService ? authService : nullptr, false);
    if (!system)
        return nullptr;
    app.system = system;
    if (!papplSystemAddListeners(system, listen.c_str())) {
        std::fprintf(stderr, "%s: cannot listen on %s port %d\n", kBaseName, listen.c_str(), port);
        papplSystemDelete(system);
        return nullptr;
    }
    app.hostNames = {"localhost", "127.0.0.1", "::1", listen};
    app.beyondLoopback = beyondLoopback;
    const char *serverHost = cupsGetOption("server-hostname", num_options, options);
    if (serverHost && *serverHost) {
        papplSystemSetHostName(system, serverHost);
        app.hostNames.push_back(serverHost);
    }
    checkRequestHosts(app);
    // The strings' address: where the server listens, or for all addresses
    // the name it is given or its own.
    const bool anyAddress = listen == "*" || listen == "0.0.0.0" || listen == "::" || listen == "[::]";
    addStrings(system, app, !anyAddress ? listen : serverHost && *serverHost ? serverHost : "");
    // PAPPL asks an authentication service when one is named; otherwise
    // this server's own rules apply.
    if (!authService || !*authService)
        papplSystemSetAuthCallback(system, "Basic", authorize, &app);
    papplSystemSetPrinterDrivers(system, kHeads, app.driverList.data(), nullptr, printerCreated, driverCallback, &app);
    papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", pdfFilter, &app);
    papplSystemAddMIMEFilter(system, "image/pwg-raster", "image/pwg-raster", pwgFilter, &app);
    // PAPPL looks for a filter to the printer's own format first, so these
    // are used instead of PAPPL's PNG and JPEG filters.
    papplSystemAddMIMEFilter(system, "image/png", kStreamFormat, pngFilter, &app);
    papplSystemAddMIMEFilter(system, "image/jpeg", kStreamFormat, jpegFilter, &app);
    // PAPPL's web pages need a footer.
    papplSystemSetFooterHTML(system, app.footer.c_str());
    pappl_version_t versions[1];
    std::memset(versions, 0, sizeof versions);
    std::snprintf(versions[0].name, sizeof versions[0].name, "%s", kBaseName);
    std::snprintf(versions[0].sversion, sizeof versions[0].sversion, "%s", kVersion);
    versions[0].version[0] = 1;
    papplSystemSetVersions(system, 1, versions);
    papplSystemSetEventCallback(system, jobEvent, nullptr);
    repairState(system, app.stateFile);
    papplSystemLoadState(system, app.stateFile.c_str());
    // PAPPL 1.3's web password accepts any password: a hash left in the
    // state by another setup is dropped, and the page that sets one is not
    // offered (no PAPPL_SOPTIONS_WEB_SECURITY).
    papplSystemSetPassword(system, "");
    papplSystemAddTimerCallback(system, time(nullptr), 0, startLoadedJobs, nullptr);
    papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, wakeMainLoop, nullptr);
    papplSystemSetSaveCallback(system, saveState, &app);
    return system;
}

void usage(void *) {
    std::printf("The model 316 printer application.\n\n"
                "Environment: QX316_STATE_DIR=DIR keeps its state, spool, log and local socket in DIR.\n"
                "Drivers: qx316-h0, qx316-h1, qx316-h2 (one per print head).\n");
}

} // namespace

} // namespace qx316::app

int main(int argc, char *argv[]) {
    using namespace qx316::app;
    static App app;
    const char *dir = std::getenv("QX316_STATE_DIR");
    app.stateDir = dir && *dir ? dir : defaultStateDir();
    if (dir && *dir) {
        // PAPPL puts the sub-commands' local socket in SNAP_COMMON when it
        // is set; temporary files go to TMPDIR.
        const std::string tmp = app.stateDir + "/tmp";
        if (!makeDir(app.stateDir) || !makeDir(tmp))
            return 1;
        setenv("SNAP_COMMON", app.stateDir.c_str(), 1);
        setenv("TMPDIR", tmp.c_str(), 1);
    }
    app.spoolDir = app.stateDir + "/spool";
    app.stateFile = app.stateDir + "/" + kBaseName + ".state";
    app.logFile = app.stateDir + "/" + kBaseName + ".log";
    app.footer = std::string("QX model 316 printer application ") + kVersion + " &middot; libqxdro316";
    initDrivers(app);
    return papplMainloop(argc, argv, kVersion, app.footer.c_str(), kHeads, app.driverList.data(), nullptr,
                         driverCallback, nullptr, nullptr, systemCallback, usage, &app);
}
