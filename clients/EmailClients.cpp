// Email client registry: the table of the eight clients, lookup by product name, and the
// "Clnt", "Encd" and "sHTM" answers.
#include "clients/EmailClients.h"

#include <MacErrors.h>

#include <cstring>

#include "support/ApplicationLookup.h"
#include "support/ErrorReporting.h"
#include "support/MemoryBuffer.h"
#include "support/StringUtils.h"

const unsigned char outlookProduct[] = "\017Outlook Express";
const unsigned char outlookManufacturer[] = "\011Microsoft";
const unsigned char entourageProduct[] = "\011Entourage";
const unsigned char entourageManufacturer[] = "\011Microsoft";
const unsigned char eudoraProduct[] = "\006Eudora";
const unsigned char eudoraManufacturer[] = "\010Qualcomm";
const unsigned char emailerProduct[] = "\007Emailer";
const unsigned char emailerManufacturer[] = "\006Claris";
const unsigned char mailsmithProduct[] = "\011Mailsmith";
const unsigned char mailsmithManufacturer[] = "\012Bare Bones";
const unsigned char powerMailProduct[] = "\011PowerMail";
const unsigned char powerMailManufacturer[] = "\017CTM Development";
const unsigned char quickMailProduct[] = "\011QuickMail";
const unsigned char quickMailManufacturer[] = "\016CE Development";
const unsigned char mailAppProduct[] = "\004Mail";
const unsigned char mailAppManufacturer[] = "\005Apple";

const unsigned char esServiceDefault[] = "\020Service Default\r";
const unsigned char esNoEncoding[] = "\014No Encoding\r";
const unsigned char esBinHex[] = "\007BinHex\r";
const unsigned char esBase64[] = "\007Base64\r";
const unsigned char esUUEncode[] = "\011UUEncode\r";
const unsigned char esAppleSingle[] = "\014AppleSingle\r";
const unsigned char esAppleDouble[] = "\014AppleDouble\r";

namespace {

constexpr SInt32 kClientCount = 8;
constexpr SInt32 kEncodingCount = 7;
constexpr UInt32 kClassicProcessInfoLength = 60;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kEmptyString[] = {0};

// Capability bits: bit n is encoding number n; then compression and HTML.
enum : UInt16 {
  kServiceDefault = 1 << 0,
  kNoEncoding = 1 << 1,
  kBinHex = 1 << 2,
  kBase64 = 1 << 3,
  kUUEncode = 1 << 4,
  kAppleSingle = 1 << 5,
  kAppleDouble = 1 << 6,
  kCompresses = 1 << 7,
  kSupportsHTML = 1 << 8,
};

struct EmailClientEntry {
  OSType signature;
  const unsigned char *product;
  const unsigned char *manufacturer;
  UInt16 capabilities;
};

constexpr UInt16 kMicrosoft =
    kServiceDefault | kBinHex | kBase64 | kUUEncode | kAppleDouble | kCompresses | kSupportsHTML;

// In index order; every list the registry produces follows it.
const EmailClientEntry emailClients[kClientCount] = {
    {kOutlookExpressCreator, outlookProduct, outlookManufacturer, kMicrosoft},
    {kEntourageCreator, entourageProduct, entourageManufacturer, kMicrosoft},
    {kEudoraCreator, eudoraProduct, eudoraManufacturer,
     kServiceDefault | kBinHex | kUUEncode | kAppleSingle | kAppleDouble},
    {kEmailerCreator, emailerProduct, emailerManufacturer,
     kServiceDefault | kNoEncoding | kBinHex | kBase64 | kUUEncode | kCompresses},
    {kMailsmithCreator, mailsmithProduct, mailsmithManufacturer, kServiceDefault},
    {kPowerMailCreator, powerMailProduct, powerMailManufacturer,
     kServiceDefault | kNoEncoding | kBinHex | kBase64 | kUUEncode | kAppleDouble | kCompresses},
    {kQuickMailCreator, quickMailProduct, quickMailManufacturer, kServiceDefault},
    {kMailAppCreator, mailAppProduct, mailAppManufacturer, kServiceDefault},
};

const unsigned char *const encodingNames[kEncodingCount] = {
    esServiceDefault, esNoEncoding, esBinHex, esBase64, esUUEncode, esAppleSingle, esAppleDouble,
};

const EmailClientEntry *FindEmailClientEntry(OSType signature) {
  for (const EmailClientEntry &entry : emailClients) {
    if (entry.signature == signature) return &entry;
  }
  return nullptr;
}

// The info's encoding flags in number order.
Boolean *EncodingFlag(EmailClientInfo *info, SInt32 encoding) {
  Boolean *flags[kEncodingCount] = {
      &info->encodingServiceDefault, &info->encodingNone,     &info->encodingBinHex,
      &info->encodingBase64,         &info->encodingUUEncode, &info->encodingAppleSingle,
      &info->encodingAppleDouble,
  };
  return flags[encoding];
}

void SetCapabilities(EmailClientInfo *info, UInt16 capabilities) {
  for (SInt32 encoding = 0; encoding < kEncodingCount; ++encoding) {
    *EncodingFlag(info, encoding) = (capabilities & (1u << encoding)) != 0;
  }
  info->compresses = (capabilities & kCompresses) != 0;
  info->supportsHTML = (capabilities & kSupportsHTML) != 0;
}

// Whether the client runs (then its application file is the running one's) or is installed.
void ProbeEmailClient(OSType signature, EmailClientInfo *info) {
  if (FindApplicationProcess(signature, &info->process) == noErr) {
    info->available = true;
    info->running = true;
    ProcessInfoRec processInfo{};
    processInfo.processInfoLength = kClassicProcessInfoLength;
    processInfo.processName = nullptr;
    processInfo.processAppSpec = &info->applicationFile;
    if (GetProcessInformation(&info->process, &processInfo) != noErr) {
      info->available = false;
      info->running = false;
    }
    return;
  }
  info->running = false;
  info->available = FindApplicationFile(signature, &info->applicationFile) == noErr;
}

// Writes the characters of a length-prefixed text, optionally followed by a carriage
// return, as one write: a list item is either whole or absent.
OSErr WriteListItem(MemoryBuffer *buffer, const unsigned char *text, bool addReturn) {
  unsigned char item[256 + 1];
  UInt32 length = text[0];
  std::memcpy(item, text + 1, length);
  if (addReturn) item[length++] = kCarriageReturn;
  return WriteMemoryBuffer(buffer, item, length);
}

// Ends the list with its NUL and hands over the handle. A list that cannot be terminated
// is not handed over at all: its reader relies on the NUL.
Handle FinishList(MemoryBuffer *buffer) {
  const unsigned char terminator = 0;
  OSErr err = WriteMemoryBuffer(buffer, &terminator, 1);
  Handle list = CloseMemoryBuffer(buffer);
  if (err == noErr) return list;
  DestroyHandleFinal(list);
  return nullptr;
}

}  // namespace

SInt32 CountEmailClients() {
  return kClientCount;
}

OSType GetEmailClientSignature(SInt32 index) {
  if (UInt32(index) >= UInt32(kClientCount)) return 0;
  return emailClients[index].signature;
}

void GetEmailClientInformation(OSType signature, EmailClientInfo *info) {
  const EmailClientEntry *entry = FindEmailClientEntry(signature);
  SetCapabilities(info, entry != nullptr ? entry->capabilities : UInt16(kServiceDefault));
  CloneString(entry != nullptr ? entry->manufacturer : kEmptyString, info->manufacturer);
  CloneString(entry != nullptr ? entry->product : kEmptyString, info->product);
  ProbeEmailClient(signature, info);
}

OSType FindEmailClientCreator(const char *name) {
  // Product names are length-prefixed, so the comparison works on one-byte lengths.
  const auto length = UInt8(std::strlen(name) % 256);
  const auto *chars = reinterpret_cast<const UInt8 *>(name);
  for (const EmailClientEntry &entry : emailClients) {
    if (RelativeChars(chars, length, entry.product + 1, entry.product[0], true) == 0) return entry.signature;
  }
  return 0;
}

Handle GetEmailClientInfoHandle() {
  MemoryBuffer buffer;
  if (CreateMemoryBuffer(&buffer) != noErr) return nullptr;
  for (const EmailClientEntry &entry : emailClients) {
    EmailClientInfo info;
    GetEmailClientInformation(entry.signature, &info);
    if (info.available && WriteListItem(&buffer, info.product, true) != noErr) break;
  }
  return FinishList(&buffer);
}

Handle GetEmailClientEncodings(const char *name) {
  MemoryBuffer buffer;
  if (CreateMemoryBuffer(&buffer) != noErr) return nullptr;
  OSType signature = FindEmailClientCreator(name);
  if (signature != 0) {
    EmailClientInfo info;
    GetEmailClientInformation(signature, &info);
    for (SInt32 encoding = 0; encoding < kEncodingCount; ++encoding) {
      if (*EncodingFlag(&info, encoding) && WriteListItem(&buffer, encodingNames[encoding], false) != noErr)
        break;
    }
  }
  return FinishList(&buffer);
}

SInt32 GetEmailClientSupportsHTML(const char *name) {
  OSType signature = FindEmailClientCreator(name);
  if (signature == 0) return 0;
  EmailClientInfo info;
  GetEmailClientInformation(signature, &info);
  return info.supportsHTML ? 1 : 0;
}
