// The plug-in's single global state record. It lives while the bundle is loaded; the record
// store in it is created by "Init" and released by "Kill".
#pragma once

#include <MacTypes.h>
#include <Processes.h>

#include "store/RecordStore.h"

struct Globals {
  RecordStore records;                   // absent until "Init", released by "Kill"
  ProcessSerialNumber fileMakerProcess;  // the FileMaker Pro found by "FMPx"
};

extern Globals globals;  // zero-filled at load: the record store starts absent
