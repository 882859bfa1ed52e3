// The bundle's shared object. It exports getXtable and nothing else (exports.map); this
// reference keeps the linker from leaving the entry's module out of the archive.
#include "external/External.h"

[[gnu::used]] static auto *const kEntry = &getXtable;
