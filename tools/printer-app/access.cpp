#include "access.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>

namespace qx316::app {

namespace {

std::string lower(std::string s) {
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool named(const std::string &host, const std::vector<std::string> &names) {
    if (host.empty())
        return false;
    return std::any_of(names.begin(), names.end(), [&](const std::string &n) { return hostOfField(n) == host; });
}

bool portOk(const std::string &p) {
    return !p.empty() && p.size() <= 5 && std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::string hostOfField(const std::string &field) {
    std::string f = lower(field);
    if (f.empty())
        return "";
    if (f[0] == '[') {
        const size_t close = f.find(']');
        if (close == std::string::npos)
            return "";
        const std::string rest = f.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || !portOk(rest.substr(1))))
            return "";
        return f.substr(1, close - 1);
    }
    const size_t colon = f.find(':');
    if (colon != std::string::npos && f.find(':', colon + 1) != std::string::npos)
        return f; // a bare IPv6 address
    if (colon != std::string::npos) {
        if (!portOk(f.substr(colon + 1)))
            return "";
        f.resize(colon);
    }
    if (!f.empty() && f.back() == '.') // a fully qualified name
        f.pop_back();
    if (f.empty())
        return "";
    for (char c : f)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            return "";
    return f;
}

bool hostAllowed(const std::string &hostField, const std::vector<std::string> &names) {
    return named(hostOfField(hostField), names);
}

bool originAllowed(const std::string &origin, const std::vector<std::string> &names) {
    if (origin.empty())
        return true;
    const std::string o = lower(origin);
    size_t start;
    if (o.rfind("http://", 0) == 0)
        start = 7;
    else if (o.rfind("https://", 0) == 0)
        start = 8;
    else
        return false;
    std::string hostPort = o.substr(start);
    if (!hostPort.empty() && hostPort.back() == '/')
        hostPort.pop_back();
    if (hostPort.find('/') != std::string::npos)
        return false;
    return named(hostOfField(hostPort), names);
}

bool isLoopbackName(const std::string &host) {
    const std::string h = hostOfField(host);
    if (h == "localhost" || h == "localhost.localdomain")
        return true;
    in_addr a4;
    if (inet_pton(AF_INET, h.c_str(), &a4) == 1)
        return (ntohl(a4.s_addr) >> 24) == 127;
    in6_addr a6;
    if (inet_pton(AF_INET6, h.c_str(), &a6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&a6);
    return false;
}

} // namespace qx316::app
