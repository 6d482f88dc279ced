// Who may change the printer application's settings from a web page or
// over IPP: the names a request may give as its Host and Origin. A page on
// another site that a browser was made to send here (its own name resolved
// to this server's address) gives its own name; such requests are refused.
// No PAPPL here, so the rules are tested on their own.
#ifndef QX316_PRINTER_APP_ACCESS_H
#define QX316_PRINTER_APP_ACCESS_H

#include <string>
#include <vector>

namespace qx316::app {

// The host of a Host field ("name", "name:port", "[v6]:port", "v6"),
// lower case, without brackets or port; empty when it is malformed.
std::string hostOfField(const std::string &field);
// True when the Host field names one of names (compared without case).
bool hostAllowed(const std::string &hostField, const std::vector<std::string> &names);
// True when there is no Origin, or it is http(s)://HOST[:port] with a HOST
// from names. "null" and anything else are refused.
bool originAllowed(const std::string &origin, const std::vector<std::string> &names);
// True for localhost and the loopback addresses (127.0.0.0/8, ::1).
bool isLoopbackName(const std::string &host);

} // namespace qx316::app

#endif
