// PAPPL's and libcups's headers, read as system headers so that their own
// warnings do not stop the build.
#ifndef QX316_PRINTER_APP_PAPPL_API_H
#define QX316_PRINTER_APP_PAPPL_API_H

#pragma GCC system_header
#include <pappl/pappl.h>

#endif
