// Templates, field lists and records of any bytes, through a whole "Merg" into a captured
// Emailer event. Input: field list, NUL, template, NUL, record (missing parts are empty).
// The merged subject must equal what a plain re-reading of the placeholder rules gives.
#include <AEDataModel.h>
#include <AppleEvents.h>
#include <MacMemory.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "merge/MergePreparation.h"
#include "merge/MergedMessage.h"
#include "send/MessageEvent.h"
#include "send/SendDispatcher.h"
#include "store/Globals.h"
#include "store/Preferences.h"
#include "store/RecordStore.h"
#include "support/StringUtils.h"

namespace {

std::string sentSubject;
bool sent = false;

OSErr Capture(const AppleEvent *event, AppleEvent *reply, AESendMode) {
  AEInitializeDesc(reply);
  sent = true;
  DescType type;
  Size size = 0;
  sentSubject.clear();
  if (AESizeOfParam(event, FourCC("SUBJ"), &type, &size) == noErr) {
    sentSubject.resize(size_t(size));
    AEGetParamPtr(event, FourCC("SUBJ"), typeChar, &type, sentSubject.data(), size, &size);
  }
  return noErr;
}

// At most limit parts; past that the text ends (lines) or stays in the last part (input).
std::vector<std::string> Split(const std::string &text, char separator, size_t limit, bool keepRest) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator && parts.size() == limit && !keepRest) break;
    if (c == separator && parts.size() < limit) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool SameFolded(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (upperChar[UInt8(a[i])] != upperChar[UInt8(b[i])]) return false;
  }
  return true;
}

// The placeholder rules read plainly: the last « before a » starts the name; a name that is
// «§∆» or a line of the field list is replaced, anything else stays.
std::string ExpectedMerge(const std::string &text, const std::string &fieldList, const std::string &record) {
  std::vector<std::string> lines = Split(fieldList, '\r', 32767, false);
  std::vector<std::string> values = Split(record, '\xFF', SIZE_MAX, false);
  std::string out;
  size_t copied = 0, start = std::string::npos;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\xC7') {
      start = i;
    } else if (text[i] == '\xC8' && start != std::string::npos) {
      std::string name = text.substr(start + 1, i - start - 1), value;
      bool known = name == "\xA4\xC6";
      if (known) value = "1";
      for (size_t l = 0; !known && !name.empty() && l < lines.size(); l++) {
        if (!SameFolded(name, lines[l])) continue;
        known = true;
        if (l < values.size()) value = values[l];
      }
      if (known) {
        out += text.substr(copied, start - copied) + value;
        copied = i + 1;
      }
      start = std::string::npos;
    }
  }
  return out + text.substr(copied);
}

Handle TextHandle(const std::string &text) {
  Handle h = NewHandle(Size(text.size() + 1));
  std::memcpy(*h, text.c_str(), text.size() + 1);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 0x10000) return 0;
  std::vector<std::string> parts =
      Split(std::string(reinterpret_cast<const char *>(data), size), '\0', 3, true);
  parts.resize(3);
  const std::string &fieldList = parts[0], &text = parts[1], &record = parts[2];

  emailClientSend = Capture;
  sent = false;
  InitDictionary(&globals.records);
  DictionaryAppend(&globals.records);
  DictionaryWrite(&globals.records, 0, record.data(), UInt32(record.size()));
  mergeParam[kTemplateSubject] = TextHandle(text);
  mergeParam[kTemplateMessage] = TextHandle(text);
  mergeParam[kTemplateTo] = TextHandle("to@example.com");
  if (!PrepareMergePlaces(fieldList.c_str())) std::abort();
  ReadMergeOptions();
  connection =
      static_cast<EmailClientConnection *>(static_cast<void *>(NewPtrClear(sizeof(EmailClientConnection))));
  connection->signature = kEmailerCreator;
  if (!CreateMergedEmailMessage(0) || !sent) std::abort();
  if (sentSubject != ExpectedMerge(text, fieldList, record)) std::abort();
  FinishEmailClientConnection();
  KillDictionary(&globals.records);
  return 0;
}
