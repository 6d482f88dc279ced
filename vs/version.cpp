// Exported version strings. The header's extern declarations give
// these const arrays external linkage; the sizes include the NUL.
#include "qxdro316.h"

extern "C" {

const char QXPARMversion[28] = "MORVANTS_QXPARM_2.93.01.003";
const char QXVSversion[26] = "MORVANTS_QXVS_1.50.01.001";
const char QXOUTPUTversion[30] = "MORVANTS_QXOUTPUT_1.00.01.001";

}  // extern "C"

static_assert(sizeof(QXPARMversion) == 28 && sizeof("MORVANTS_QXPARM_2.93.01.003") == 28);
static_assert(sizeof(QXVSversion) == 26 && sizeof("MORVANTS_QXVS_1.50.01.001") == 26);
static_assert(sizeof(QXOUTPUTversion) == 30 && sizeof("MORVANTS_QXOUTPUT_1.00.01.001") == 30);
