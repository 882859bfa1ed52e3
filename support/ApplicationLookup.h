// Application lookup and launching: finding a running application or an application file
// by creator code, launching an application file, and handing a URL to the user's
// preferred application. No state; results go to the caller's variables.
#pragma once

#include <Files.h>
#include <MacTypes.h>
#include <Processes.h>

// 0 and *process = the first running application ('APPL') with this creator code, in the
// Process Manager's order; otherwise the Process Manager's error (procNotFound when there
// is none), and *process is not to be used.
SInt32 FindApplicationProcess(OSType creator, ProcessSerialNumber *process);

// 0 and *file = the application file with this creator code, found through Launch Services
// or else the desktop databases of the mounted volumes; otherwise the error of the search,
// and *file may be partly written.
SInt32 FindApplicationFile(OSType creator, FSSpec *file);

// Launches the application file and brings it to the front; the caller keeps running. 0 and
// *process = the new process, or the launch error (reported to the user; *process unchanged).
SInt32 OpenApplicationFile(const FSSpec *file, ProcessSerialNumber *process);

// Hands the length bytes at url (not terminated) to Internet Config; a text without a
// scheme is taken as "mailto:". 0 when handed over, else 1997 (reported to the user).
SInt32 OpenURL(const void *url, SInt32 length);
