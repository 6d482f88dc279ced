// What the server does to every request before PAPPL answers it.
//
// Every request must name this server in its Host field.
//
// PAPPL 1.3 lets through any Host that begins with a digit or ends in
// ".local", so a page on another site whose name was made to resolve to
// this server's address (DNS rebinding, "Host: 1.attacker.example") could
// read the status, printer and job pages and the IPP answers. PAPPL offers
// no hook that sees every request; it reads a request's header fields with
// libcups's httpUpdate() and answers 400 Bad Request when that fails. The
// application's own httpUpdate (PAPPL's calls reach it before libcups's)
// calls libcups's and, on the server's side of a connection, fails a
// request whose Host names neither this server nor one of its addresses.
//
// A request for "all" attributes gets the printer's strings. PAPPL 1.3
// filters a printer's attributes through libcups's ippCreateRequestedArray(),
// whose list for "all" (libcups 2.4) lacks printer-strings-uri: CUPS, which
// asks for "all" and "media-col-database" when it makes a driverless
// queue, would never learn where the readable names are. The application's
// own ippCreateRequestedArray adds the two strings attributes to the list
// of a request that asks for all attributes or all printer descriptions.
//
// The server's TLS credentials live in its state folder. PAPPL 1.3 hands
// libcups no folder for them (cupsSetServerCredentials(NULL, ...) each time
// the host name is set), so libcups makes and reads them in ~/.cups/ssl, or
// /etc/cups/ssl for root, which a hardened service cannot write. The
// application's own cupsSetServerCredentials gives libcups the state
// folder's ssl/ instead where no folder is named.
#include "access.h"
#include "app.h"

#include <dlfcn.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace qx316::app {

namespace {

using UpdateFn = http_status_t (*)(http_t *);

UpdateFn libcupsUpdate() {
    static const UpdateFn f = reinterpret_cast<UpdateFn>(dlsym(RTLD_NEXT, "httpUpdate"));
    return f;
}

using RequestedFn = cups_array_t *(*)(ipp_t *);

RequestedFn libcupsRequested() {
    static const RequestedFn f = reinterpret_cast<RequestedFn>(dlsym(RTLD_NEXT, "ippCreateRequestedArray"));
    return f;
}

std::atomic<App *> checking{nullptr};

using CredentialsFn = int (*)(const char *, const char *, int);

CredentialsFn libcupsCredentials() {
    static const CredentialsFn f = reinterpret_cast<CredentialsFn>(dlsym(RTLD_NEXT, "cupsSetServerCredentials"));
    return f;
}

// Set once before the system is made, read by every later call.
std::atomic<const std::string *> credentialsDir{nullptr};

// The states of a connection that has read a request line and is reading
// its header fields. (The server makes no requests of its own: in its
// process only PAPPL's clients read header fields.)
bool readingRequest(http_state_t state) {
    switch (state) {
    case HTTP_STATE_OPTIONS:
    case HTTP_STATE_GET:
    case HTTP_STATE_HEAD:
    case HTTP_STATE_POST:
    case HTTP_STATE_PUT:
    case HTTP_STATE_DELETE:
    case HTTP_STATE_TRACE:
    case HTTP_STATE_CONNECT:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<std::string> serverNames(const App &app) {
    std::vector<std::string> names = app.hostNames;
    char name[256];
    if (app.system && papplSystemGetHostName(app.system, name, sizeof name))
        names.push_back(name);
    if (::gethostname(name, sizeof name) == 0) {
        name[sizeof name - 1] = '\0';
        std::string host = name;
        names.push_back(host);
        names.push_back(host.substr(0, host.find('.')) + ".local");
    }
    ifaddrs *list = nullptr;
    if (app.beyondLoopback && ::getifaddrs(&list) == 0) {
        for (const ifaddrs *i = list; i; i = i->ifa_next) {
            if (!i->ifa_addr || (i->ifa_addr->sa_family != AF_INET && i->ifa_addr->sa_family != AF_INET6))
                continue;
            const socklen_t len = i->ifa_addr->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
            char addr[NI_MAXHOST];
            if (::getnameinfo(i->ifa_addr, len, addr, sizeof addr, nullptr, 0, NI_NUMERICHOST) == 0) {
                std::string a = addr;
                names.push_back(a.substr(0, a.find('%'))); // without an IPv6 zone
            }
        }
        ::freeifaddrs(list);
    }
    return names;
}

void checkRequestHosts(App &app) { checking.store(&app); }

bool keepCredentialsIn(const std::string &dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    static std::string kept;
    kept = dir;
    credentialsDir.store(&kept);
    return true;
}

} // namespace qx316::app

extern "C" http_status_t httpUpdate(http_t *http) {
    using namespace qx316::app;
    const UpdateFn update = libcupsUpdate();
    if (!update)
        return HTTP_STATUS_ERROR;
    const http_state_t state = httpGetState(http);
    const http_status_t status = update(http);
    const App *app = checking.load();
    if (status != HTTP_STATUS_OK || !app || !readingRequest(state))
        return status;
    http_addr_t *peer = httpGetAddress(http);
    if (peer && httpAddrFamily(peer) == AF_LOCAL)
        return status; // the sub-commands, on the local socket
    const char *host = httpGetField(http, HTTP_FIELD_HOST);
    // HTTP/1.0 clients may send no Host; PAPPL refuses HTTP/1.1 without one.
    if (!host || !*host || hostAllowed(host, serverNames(*app)))
        return status;
    papplLog(app->system, PAPPL_LOGLEVEL_WARN, "Refused a request for Host \"%s\": not a name of this server", host);
    return HTTP_STATUS_BAD_REQUEST;
}

extern "C" cups_array_t *ippCreateRequestedArray(ipp_t *request) {
    using namespace qx316::app;
    const RequestedFn create = libcupsRequested();
    if (!create)
        return nullptr;
    cups_array_t *ra = create(request);
    ipp_attribute_t *requested = ippFindAttribute(request, "requested-attributes", IPP_TAG_KEYWORD);
    if (!ra || !checking.load() ||
        !(ippContainsString(requested, "all") || ippContainsString(requested, "printer-description")))
        return ra;
    // libcups's array holds its names without copying them: these are static.
    for (const char *name : {"printer-strings-uri", "printer-strings-languages-supported"})
        if (!cupsArrayFind(ra, const_cast<char *>(name)))
            cupsArrayAdd(ra, const_cast<char *>(name));
    return ra;
}

extern "C" int cupsSetServerCredentials(const char *path, const char *common_name, int auto_create) {
    using namespace qx316::app;
    const CredentialsFn set = libcupsCredentials();
    if (!set)
        return 0;
    const std::string *dir = credentialsDir.load();
    return set(path || !dir ? path : dir->c_str(), common_name, auto_create);
}
