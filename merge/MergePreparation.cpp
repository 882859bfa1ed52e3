#include "merge/MergePreparation.h"

#include <MacErrors.h>
#include <MacMemory.h>

#include <cstring>

#include "clients/ClientConnection.h"
#include "clients/EmailClients.h"
#include "external/host/HostGlobals.h"
#include "send/SendDispatcher.h"
#include "support/ErrorReporting.h"
#include "support/StringUtils.h"

namespace {

// Host globals of the templates, in template index order.
constexpr OSType kTemplateCodes[kMergeTemplates] = {
    FourCC("Subj"), FourCC("Mesg"), FourCC("To  "), FourCC("Cc  "), FourCC("Bcc "),
    FourCC("Atch"), FourCC("Encd"), FourCC("Stuf"), FourCC("Acnt"), FourCC("HTML"),
};
constexpr OSType kFieldListCode = FourCC("Flds");

constexpr UInt8 kOpenMark = 0xC7;     // «
constexpr UInt8 kCloseMark = 0xC8;    // »
constexpr UInt8 kSectionSign = 0xA4;  // §
constexpr UInt8 kIncrement = 0xC6;    // ∆
constexpr SInt32 kLastNamedLine = 32767;

// Case-blind equality of two runs of any length; the folding is RelativeChars', which
// takes at most 255 bytes at a time.
bool SameChars(const char *a, const char *b, UInt32 length) {
  const auto *x = reinterpret_cast<const UInt8 *>(a);
  const auto *y = reinterpret_cast<const UInt8 *>(b);
  while (length > 0) {
    UInt8 chunk = length > 255 ? 255 : UInt8(length);
    if (RelativeChars(x, chunk, y, chunk, false) != 0) return false;
    x += chunk;
    y += chunk;
    length -= chunk;
  }
  return true;
}

// Field index of a placeholder name, or -1 when the name is not a placeholder.
SInt32 PlaceholderField(const char *name, UInt32 length, const char *fieldList, SInt16 *highestField) {
  if (length == 2 && UInt8(name[0]) == kSectionSign && UInt8(name[1]) == kIncrement)
    return kRecordNumberField;
  SInt16 line = SearchLine(name, length, fieldList);
  if (line == 0) return -1;
  if (line > *highestField) *highestField = line;
  return line - 1;
}

const char *TemplateText(UInt16 index) {
  return mergeParam[index] != nullptr ? *mergeParam[index] : nullptr;
}

// True when template index starts with the two bytes "tr", as "true" does.
Boolean TemplateSaysTrue(UInt16 index) {
  const char *text = TemplateText(index);
  return MergeTemplateLength(index) >= 2 && text[0] == 't' && text[1] == 'r';
}

}  // namespace

SInt16 SearchLine(const char *name, UInt32 length, const char *list) {
  if (list == nullptr) return 0;
  const char *line = list;
  for (SInt32 number = 1; number <= kLastNamedLine; number++) {
    const char *stop = line;
    while (*stop != '\0' && *stop != '\r') stop++;
    if (length != 0 && UInt32(stop - line) == length && SameChars(name, line, length)) return SInt16(number);
    if (*stop == '\0') return 0;
    line = stop + 1;
  }
  return 0;
}

UInt32 ScanTemplate(const char *text, UInt32 textLength, const char *fieldList, UInt16 param,
                    MergePlace *places, SInt16 *highestField) {
  if (text == nullptr || fieldList == nullptr) return 0;
  UInt32 found = 0;
  const char *start = nullptr;  // first byte of the candidate name, after its «
  for (const char *at = text; at < text + textLength; at++) {
    UInt8 c = UInt8(*at);
    if (c == kOpenMark) {
      start = at + 1;
    } else if (c == kCloseMark && start != nullptr) {
      SInt32 field = PlaceholderField(start, UInt32(at - start), fieldList, highestField);
      if (field >= 0) {
        if (places != nullptr) {
          places[found] = {param, UInt16(field), UInt32(start - 1 - text), UInt32(at - start) + 2};
        }
        found++;
      }
      start = nullptr;
    }
  }
  return found;
}

Boolean PrepareMergePlaces(const char *fieldList) {
  ReleaseMergePlaces();

  UInt64 count = 0;
  for (UInt16 i = 0; i < kMergeTemplates; i++) {
    count += ScanTemplate(TemplateText(i), MergeTemplateLength(i), fieldList, i, nullptr, &mergeFields);
  }
  // A place table past 4 G entries cannot be counted; treat it as the memory it would need.
  Size placeBytes = count > 0xFFFFFFFFu ? -1 : Size(sizeof(MergePlace) * count);
  mergePlace = reinterpret_cast<MergePlace *>(placeBytes >= 0 ? NewPtr(placeBytes) : nullptr);
  if (TestMemError(reinterpret_cast<Ptr>(mergePlace)) != noErr) return false;
  mergeCell = reinterpret_cast<MergeCell *>(NewPtr(Size(sizeof(MergeCell)) * mergeFields));
  if (TestMemError(reinterpret_cast<Ptr>(mergeCell)) != noErr) return false;

  SInt16 unused = 0;
  UInt32 filled = 0;
  for (UInt16 i = 0; i < kMergeTemplates; i++) {
    filled +=
        ScanTemplate(TemplateText(i), MergeTemplateLength(i), fieldList, i, mergePlace + filled, &unused);
  }
  mergePlaces = filled;
  return true;
}

void ReadMergeOptions() {
  // The 5th and 6th characters tell the encoding names apart: AppleDouble, AppleSingle,
  // UUEncode, Base64, BinHex, No Encoding. Service Default and anything else give 0.
  static const char kPairs[][3] = {"nc", "ex", "64", "co", "eS", "eD"};
  mergeEncoding = kEncodingServiceDefault;
  const char *encoding = TemplateText(kTemplateEncoding);
  if (MergeTemplateLength(kTemplateEncoding) >= 6) {
    for (UInt32 code = 1; code <= 6; code++) {
      if (encoding[4] == kPairs[code - 1][0] && encoding[5] == kPairs[code - 1][1]) mergeEncoding = code;
    }
  }
  mergeStuffit = TemplateSaysTrue(kTemplateStuffit);
  mergeHTML = TemplateSaysTrue(kTemplateHTML);
}

Boolean StartEmailClientConnection(const char *clientName) {
  // A merge left prepared without "Fnsh" would otherwise leak its state and connection.
  ReleaseMergeState();
  OSType creator = FindEmailClientCreator(clientName != nullptr ? clientName : "");
  if (creator == 0) return false;
  EmailClientInfo info;
  GetEmailClientInformation(creator, &info);
  if (!info.available) return false;

  // A template that could not be copied must not pass for an empty one.
  Boolean loaded = true;
  for (UInt16 i = 0; i < kMergeTemplates && loaded; i++) {
    loaded = LoadPrepareHandle(&mergeParam[i], kTemplateCodes[i]);
  }
  Handle fieldList = nullptr;
  if (loaded) loaded = LoadPrepareHandle(&fieldList, kFieldListCode);
  if (!loaded) TestError(memFullErr);
  Boolean prepared = loaded && PrepareMergePlaces(fieldList != nullptr ? *fieldList : nullptr);
  DisposeHandle(fieldList);
  if (!prepared) return false;
  ReadMergeOptions();

  if (OpenEmailClientConnection(creator, &connection) != noErr) return false;
  connectionMessages = 0;
  return true;
}
