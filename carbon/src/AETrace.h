// Internal to the carbon layer: descriptors as one line of AEPrint text, for the trace of
// AESend (QUILLCAST_AE_TRACE) and the journals of the stand-in applications.
#pragma once

#include <AEDataModel.h>

#include <string>

namespace carbon {

// The AEPrint text of the descriptor on one line: a line feed inside a text is written as
// the two characters \n. Unprintable descriptors give "<AEPrint failed: status>".
std::string AEPrintLine(const AEDesc *desc);

// Appends one line (a line feed is added) with a single write, so that lines of several
// processes appending to the same file do not mix. False when the file cannot be written.
bool AppendLine(const std::string &path, const std::string &line);

// With QUILLCAST_AE_TRACE set, appends the descriptor's line to that file.
void TraceDesc(const AEDesc *desc);

}  // namespace carbon
