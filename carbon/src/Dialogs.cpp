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
#include <span>
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
  std::vector<uint8_t> data;
  if (!carbon::CopyChainResource(kAlertResType, alertID, &data)) return -1;
  ByteReader alert = ByteReaderOver(data.data(), data.size());
  uint16_t itemsID = 0, defaultWord = 0;
  std::vector<carbon::ItemTemplate> items;
  if (!ReadByteRun(&alert, carbon::rsrc::kAlertItemsAt, nullptr) || !ReadBigEndian16(&alert, &itemsID) ||
      !ReadBigEndian16(&alert, &defaultWord) || !ReadItemList(SInt16(itemsID), &items)) {
    return -1;
  }
  DialogItemIndex defaultItem = DialogItemIndex(defaultWord);
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

bool ReadRect(ByteReader *reader, Rect *rect) {
  uint16_t top = 0, left = 0, bottom = 0, right = 0;
  if (!ReadBigEndian16(reader, &top) || !ReadBigEndian16(reader, &left) ||
      !ReadBigEndian16(reader, &bottom) || !ReadBigEndian16(reader, &right)) {
    return false;
  }
  *rect = Rect{SInt16(top), SInt16(left), SInt16(bottom), SInt16(right)};
  return true;
}

bool ParseItemList(const uint8_t *data, size_t size, std::vector<ItemTemplate> *items) {
  ByteReader list = ByteReaderOver(data, size);
  uint16_t count = 0;
  if (!ReadBigEndian16(&list, &count)) return false;
  for (size_t i = 0; i < count; i++) {
    uint16_t kind = 0;
    Rect box{};
    uint8_t length = 0;
    std::span<const uint8_t> text;
    ByteReader header;
    if (!ReadInnerReader(&list, rsrc::kItemTextAt, &header) || !ReadBigEndian16(&header, &kind) ||
        !ReadByteRun(&header, rsrc::kItemBoundsAt - sizeof kind, nullptr) || !ReadRect(&header, &box) ||
        !ReadByte(&list, &length) || !ReadByteRun(&list, length, &text)) {
      return false;
    }
    items->push_back({DialogItemType(kind), box, std::string(text.begin(), text.end())});
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
