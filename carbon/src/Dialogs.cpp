// Alerts without anyone to answer them: the alert's texts, with the parameters of ParamText
// in place, go to standard error as one line, and the default item is returned at once.
#include "DialogResources.h"
#include "ResourceFile.h"
#include "TextCodec.h"
#include "WindowServer.h"

#include <Dialogs.h>
#include <Endian.h>
#include <ResourceFormat.h>
#include <Resources.h>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex alertLock;
std::string parameters[4];
std::string lastAlertText;
std::atomic<long> alertCount{0};
std::atomic<long> beepCount{0};

// The items of a 'DITL' of the resource chain, or false when it is missing or damaged.
bool ReadItemList(SInt16 id, std::vector<carbon::ItemTemplate> *items) {
  std::vector<uint8_t> data;
  return carbon::CopyChainResource(kDialogItemListResType, id, &data) &&
         carbon::ParseItemList(data.data(), data.size(), items);
}

// ^0 .. ^3 replaced by the parameters; any other ^ stays as it is.
std::string Substitute(const std::string &text) {
  std::string result;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '^' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
      result += parameters[text[++i] - '0'];
    } else {
      result += text[i];
    }
  }
  return result;
}

std::string OneLine(std::string text) {
  for (char &c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

// With QUILLCAST_ALERT_LOG naming a file, the alert's ID and its four parameters, for a
// program that acts on what the user was told. Called with alertLock held.
void LogAlert(SInt16 alertID) {
  const char *path = std::getenv("QUILLCAST_ALERT_LOG");
  if (path == nullptr || path[0] == 0) return;
  std::string line = std::to_string(alertID);
  for (const std::string &parameter : parameters) {
    std::string text = carbon::MacRomanToUTF8(parameter);
    for (char &c : text) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    line += "\t" + text;
  }
  line += "\n";
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line.data(), line.size());
  (void)ignored;
  close(fd);
}

DialogItemIndex ShowAlert(SInt16 alertID, const char *kind) {
  std::vector<uint8_t> alert;
  std::vector<carbon::ItemTemplate> items;
  if (!carbon::CopyChainResource(kAlertResType, alertID, &alert) || alert.size() < carbon::rsrc::kAlertSize ||
      !ReadItemList(SInt16(GetBigEndian16(&alert[carbon::rsrc::kAlertItemsAt])), &items)) {
    return -1;
  }
  DialogItemIndex defaultItem = DialogItemIndex(GetBigEndian16(&alert[carbon::rsrc::kAlertDefaultAt]));
  std::lock_guard<std::mutex> guard(alertLock);
  std::string text;
  for (const carbon::ItemTemplate &item : items) {
    if ((item.kind & ~kItemDisableMask) != kStaticTextDialogItem) continue;
    text += (text.empty() ? "" : " ") + Substitute(item.text);
  }
  std::string button = "OK";
  if (defaultItem >= 1 && size_t(defaultItem) <= items.size()) button = items[size_t(defaultItem) - 1].text;
  lastAlertText = text;
  alertCount++;
  carbon::WriteDialogLine(kind, alertID, text, button);
  LogAlert(alertID);
  return defaultItem;
}

}  // namespace

namespace carbon {

bool ParseItemList(const uint8_t *data, size_t size, std::vector<ItemTemplate> *items) {
  if (size < 2) return false;
  size_t count = GetBigEndian16(data);
  size_t at = 2;
  for (size_t i = 0; i < count; i++) {
    if (at + rsrc::kItemHeaderSize + 1 > size) return false;
    size_t length = data[at + rsrc::kItemTextAt];
    size_t textAt = at + rsrc::kItemTextAt + 1;
    if (textAt + length > size) return false;
    const uint8_t *bounds = data + at + rsrc::kItemBoundsAt;
    Rect box{SInt16(GetBigEndian16(bounds)), SInt16(GetBigEndian16(bounds + 2)),
             SInt16(GetBigEndian16(bounds + 4)), SInt16(GetBigEndian16(bounds + 6))};
    items->push_back({DialogItemType(GetBigEndian16(data + at)), box,
                      std::string(reinterpret_cast<const char *>(data + textAt), length)});
    at = textAt + length;
  }
  return true;
}

void WriteDialogLine(const char *kind, SInt16 id, const std::string &text, const std::string &button) {
  std::string line = std::string(program_invocation_short_name) + ": " + kind + " " + std::to_string(id) +
                     ": " + OneLine(MacRomanToUTF8(text));
  if (!button.empty()) line += " [" + MacRomanToUTF8(button) + "]";
  line += "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace carbon

void ParamText(ConstStr255Param param0, ConstStr255Param param1, ConstStr255Param param2,
               ConstStr255Param param3) {
  std::lock_guard<std::mutex> guard(alertLock);
  ConstStr255Param given[4] = {param0, param1, param2, param3};
  for (int i = 0; i < 4; i++) {
    if (given[i] != nullptr) parameters[i].assign(reinterpret_cast<const char *>(given[i] + 1), given[i][0]);
  }
}

DialogItemIndex Alert(SInt16 alertID, ModalFilterUPP) {
  return ShowAlert(alertID, "alert");
}
DialogItemIndex StopAlert(SInt16 alertID, ModalFilterUPP) {
  return ShowAlert(alertID, "stop alert");
}
DialogItemIndex NoteAlert(SInt16 alertID, ModalFilterUPP) {
  return ShowAlert(alertID, "note alert");
}
DialogItemIndex CautionAlert(SInt16 alertID, ModalFilterUPP) {
  return ShowAlert(alertID, "caution alert");
}

void SysBeep(SInt16) {
  beepCount++;
  carbon::ws::Bell();
}

const char *CarbonLastAlertText() {
  std::lock_guard<std::mutex> guard(alertLock);
  return lastAlertText.c_str();
}

long CarbonAlertCount() {
  return alertCount.load();
}
long CarbonBeepCount() {
  return beepCount.load();
}

void CarbonResetAlerts() {
  std::lock_guard<std::mutex> guard(alertLock);
  lastAlertText.clear();
  alertCount = 0;
  beepCount = 0;
}
