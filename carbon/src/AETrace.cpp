#include "AETrace.h"

#include <AEHelpers.h>
#include <MacMemory.h>

#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

namespace carbon {

std::string AEPrintLine(const AEDesc *desc) {
  Handle text = nullptr;
  OSStatus status = AEPrintDescToHandle(desc, &text);
  if (status != noErr || text == nullptr) {
    DisposeHandle(text);
    return "<AEPrint failed: " + std::to_string(status) + ">";
  }
  std::string line(*text, size_t(GetHandleSize(text)));
  for (size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at + 2))
    line.replace(at, 1, "\\n");
  DisposeHandle(text);
  return line;
}

bool AppendLine(const std::string &path, const std::string &line) {
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string whole = line + "\n";
  bool written = write(fd, whole.data(), whole.size()) == ssize_t(whole.size());
  return close(fd) == 0 && written;
}

void TraceDesc(const AEDesc *desc) {
  const char *path = std::getenv("QUILLCAST_AE_TRACE");
  if (path == nullptr || path[0] == 0) return;
  AppendLine(path, AEPrintLine(desc));
}

}  // namespace carbon
