#include "store/Globals.h"

Globals globals;
