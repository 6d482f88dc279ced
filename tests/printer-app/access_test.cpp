// Which Host and Origin fields name the server: the rules that refuse a
// page of another site resolved to this server's address.
#include "access.h"

#include <gtest/gtest.h>

namespace qx316::app {
namespace {

const std::vector<std::string> kNames = {"localhost", "127.0.0.1", "::1", "printers.example", "[fe80::1]"};

TEST(Access, HostFields) {
    struct Case {
        const char *field;
        bool allowed;
    };
    const Case cases[] = {
        {"127.0.0.1:8631", true},
        {"127.0.0.1", true},
        {"LOCALHOST:8631", true},
        {"localhost.:8631", true},
        {"[::1]:8631", true},
        {"::1", true},
        {"printers.example", true},
        {"[fe80::1]:631", true},
        {"1.attacker.example:8631", false},  // begins with a digit, as PAPPL lets through
        {"127.0.0.1.attacker.example", false},
        {"attacker.example", false},
        {"127.0.0.2:8631", false},           // not a name the server listens as
        {"", false},
        {"127.0.0.1:86x1", false},
        {"127.0.0.1:", false},
        {"[::1", false},
        {"[::1]x", false},
        {"local host", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hostAllowed(c.field, kNames), c.allowed) << "Host: " << c.field;
}

TEST(Access, OriginFields) {
    struct Case {
        const char *origin;
        bool allowed;
    };
    const Case cases[] = {
        {"", true}, // no Origin: not a browser's cross-site form
        {"http://127.0.0.1:8631", true},
        {"https://localhost:8631", true},
        {"http://[::1]:8631/", true},
        {"http://printers.example", true},
        {"null", false},
        {"http://1.attacker.example:8631", false},
        {"http://127.0.0.1.attacker.example", false},
        {"ftp://127.0.0.1", false},
        {"http://127.0.0.1/path", false},
        {"http://", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(originAllowed(c.origin, kNames), c.allowed) << "Origin: " << c.origin;
}

TEST(Access, LoopbackNames) {
    for (const char *h : {"localhost", "127.0.0.1", "127.1.2.3", "::1", "[::1]", "LOCALHOST"})
        EXPECT_TRUE(isLoopbackName(h)) << h;
    for (const char *h : {"0.0.0.0", "*", "192.168.1.2", "::", "printers.example", "128.0.0.1", ""})
        EXPECT_FALSE(isLoopbackName(h)) << h;
}

} // namespace
} // namespace qx316::app
