#include "Pelkio.h"

extern "C" int InitBoard(void) { return 0; }
