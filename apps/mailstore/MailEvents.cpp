#include "apps/mailstore/MailEvents.h"

#include <Aliases.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <vector>

#include "apps/mailstore/MailAddress.h"
#include "apps/mailstore/MailText.h"

namespace {

std::string DescBytes(const AEDesc &desc) {
  std::string bytes(static_cast<size_t>(AEGetDescDataSize(&desc)), '\0');
  if (!bytes.empty() && AEGetDescData(&desc, bytes.data(), static_cast<Size>(bytes.size())) != noErr)
    bytes.clear();
  return bytes;
}

}  // namespace

OSErr DescToUTF8(const AEDesc &desc, std::string *text) {
  if (desc.descriptorType == typeChar) {
    *text = MacRomanToUTF8(DescBytes(desc));
    return noErr;
  }
  if (desc.descriptorType == typeUTF8Text) {
    *text = ValidUTF8(DescBytes(desc));
    return noErr;
  }
  OwnedDesc coerced;
  OSErr err = AECoerceDesc(&desc, typeUTF8Text, coerced.get());
  if (err == noErr) *text = ValidUTF8(DescBytes(*coerced));
  return err;
}

OSErr GetParamUTF8(const AppleEvent &event, AEKeyword key, std::string *text) {
  OwnedDesc value;
  OSErr err = AEGetParamDesc(&event, key, typeWildCard, value.get());
  return err != noErr ? err : DescToUTF8(*value, text);
}

OSErr GetKeyUTF8(const AERecord &record, AEKeyword key, std::string *text) {
  OwnedDesc value;
  OSErr err = AEGetKeyDesc(&record, key, typeWildCard, value.get());
  return err != noErr ? err : DescToUTF8(*value, text);
}

OSErr DescToLong(const AEDesc &desc, SInt32 *value) {
  OwnedDesc number;
  OSErr err = AECoerceDesc(&desc, typeSInt32, number.get());
  if (err == noErr && AEGetDescDataSize(number.get()) != sizeof *value) err = errAECorruptData;
  return err != noErr ? err : AEGetDescData(number.get(), value, sizeof *value);
}

OSErr ReadIndexSelector(const AEDesc &seld, long count, long *index, bool *all) {
  *all = false;
  *index = 0;
  if (seld.descriptorType == typeAbsoluteOrdinal) {
    OSType ordinal = 0;
    if (AEGetDescDataSize(&seld) != sizeof ordinal) return errAECorruptData;
    AEGetDescData(&seld, &ordinal, sizeof ordinal);
    *all = ordinal == kAEAll;
    if (*all) return noErr;
    if (ordinal == FourCC("firs"))
      *index = 1;
    else if (ordinal == FourCC("last"))
      *index = count;
    else
      return errAEIllegalIndex;
  } else {
    SInt32 number = 0;
    OSErr err = DescToLong(seld, &number);
    if (err != noErr) return err;
    *index = number < 0 ? count + 1 + number : number;
  }
  return (*index >= 1 && *index <= count) ? OSErr(noErr) : OSErr(errAEIllegalIndex);
}

OSErr GetKeyLong(const AERecord &record, AEKeyword key, SInt32 *value) {
  DescType type;
  Size size;
  return AEGetKeyPtr(&record, key, typeSInt32, &type, value, sizeof *value, &size);
}

OSErr GetKeyCode(const AERecord &record, AEKeyword key, OSType *code) {
  OwnedDesc value;
  OSErr err = AEGetKeyDesc(&record, key, typeWildCard, value.get());
  if (err != noErr) return err;
  if (value.type() != typeType && value.type() != typeEnumerated && value.type() != typeKeyword &&
      value.type() != typeProperty)
    return errAEWrongDataType;
  if (AEGetDescDataSize(value.get()) != sizeof *code) return errAECorruptData;
  return AEGetDescData(value.get(), code, sizeof *code);
}

OSErr ReadObjectSpecifier(const AEDesc &specifier, ObjectParts *parts) {
  if (specifier.descriptorType != typeObjectSpecifier) return errAEWrongDataType;
  OSErr err = GetKeyCode(specifier, keyAEKeyForm, &parts->form);
  if (err == noErr) err = GetKeyCode(specifier, keyAEDesiredClass, &parts->want);
  if (err == noErr) err = AEGetKeyDesc(&specifier, keyAEKeyData, typeWildCard, parts->seld.get());
  if (err == noErr) {
    // A missing 'from' means the application, as a null descriptor does.
    OSErr fromErr = AEGetKeyDesc(&specifier, keyAEContainer, typeWildCard, parts->from.get());
    if (fromErr != noErr && fromErr != errAEDescNotFound) err = fromErr;
  }
  return err;
}

OSErr PropertyOf(const ObjectParts &parts, OSType *property) {
  if (parts.form != formPropertyID || parts.seld.type() != typeType || AEGetDescDataSize(&*parts.seld) != 4)
    return errAENoSuchObject;
  return AEGetDescData(&*parts.seld, property, sizeof *property);
}

OSErr MakeObjectSpecifier(OSType form, DescType want, DescType seldType, const void *seldData, Size seldSize,
                          const AEDesc *container, AEDesc *result) {
  AERecord record;
  OSErr err = AECreateList(nullptr, 0, true, &record);
  if (err != noErr) return err;
  err = AEPutKeyPtr(&record, keyAEKeyForm, typeEnumerated, &form, sizeof form);
  if (err == noErr) err = AEPutKeyPtr(&record, keyAEDesiredClass, typeType, &want, sizeof want);
  if (err == noErr) err = AEPutKeyPtr(&record, keyAEKeyData, seldType, seldData, seldSize);
  if (err == noErr && container) err = AEPutKeyDesc(&record, keyAEContainer, container);
  if (err == noErr && !container) err = AEPutKeyPtr(&record, keyAEContainer, typeNull, nullptr, 0);
  if (err == noErr) err = AECoerceDesc(&record, typeObjectSpecifier, result);
  AEDisposeDesc(&record);
  return err;
}

OSErr PutReplyText(AppleEvent &reply, const std::string &utf8) {
  std::string roman = UTF8ToMacRoman(utf8);
  return AEPutParamPtr(&reply, keyDirectObject, typeChar, roman.data(), static_cast<Size>(roman.size()));
}

OSErr AppendListText(AEDescList *list, const std::string &utf8) {
  std::string roman = UTF8ToMacRoman(utf8);
  return AEPutPtr(list, 0, typeChar, roman.data(), static_cast<Size>(roman.size()));
}

OSErr AttachmentItemPath(const AEDesc &item, std::string *path) {
  if (item.descriptorType != typeObjectSpecifier) return DescToUTF8(item, path);
  ObjectParts parts;
  OSErr err = ReadObjectSpecifier(item, &parts);
  if (err == noErr && parts.form != formName) err = errAENoSuchObject;
  return err != noErr ? err : DescToUTF8(*parts.seld, path);
}

OSErr ForEachListItem(const AEDesc &list, const std::function<OSErr(const AEDesc &)> &read) {
  if (list.descriptorType != typeAEList) return read(list);
  long count = 0;
  OSErr err = AECountItems(&list, &count);
  for (long i = 1; err == noErr && i <= count; i++) {
    OwnedDesc item;
    err = AEGetNthDesc(&list, i, typeWildCard, nullptr, item.get());
    if (err == noErr) err = read(*item);
  }
  return err;
}

std::vector<MailAddress> *RecipientList(MailMessage &message, DescType kind) {
  if (kind == FourCC("!to ")) return &message.to;
  if (kind == FourCC("!cc ")) return &message.cc;
  return kind == FourCC("!bcc") ? &message.bcc : nullptr;
}

OSErr AnswerIndexedNames(const ObjectParts &indexed, const std::vector<std::string> &names,
                         AppleEvent &reply) {
  if (indexed.form != formAbsolutePosition) return errAENoSuchObject;
  long index = 0;
  bool all = false;
  OSErr err = ReadIndexSelector(*indexed.seld, static_cast<long>(names.size()), &index, &all);
  if (err != noErr) return err == errAEIllegalIndex ? OSErr(errAENoSuchObject) : err;
  if (!all) return PutReplyText(reply, names[size_t(index - 1)]);
  OwnedDesc list;
  err = AECreateList(nullptr, 0, false, list.get());
  for (size_t i = 0; err == noErr && i < names.size(); i++) err = AppendListText(list.get(), names[i]);
  return err != noErr ? err : AEPutParamDesc(&reply, keyDirectObject, list.get());
}

OSErr MakeIDSpecifier(DescType want, SInt32 id, AEDesc *result) {
  return MakeObjectSpecifier(formUniqueID, want, typeSInt32, &id, sizeof id, nullptr, result);
}

OSErr IDOfSpecifier(const AEDesc &specifier, DescType want, SInt32 *id) {
  ObjectParts parts;
  OSErr err = ReadObjectSpecifier(specifier, &parts);
  if (err == noErr && (parts.form != formUniqueID || parts.want != want)) err = errAENoSuchObject;
  return err != noErr ? err : DescToLong(*parts.seld, id);
}

OSErr AliasItemPath(const AEDesc &item, std::string *path) {
  if (item.descriptorType != typeAlias) return DescToUTF8(item, path);
  Size size = AEGetDescDataSize(&item);
  Handle alias = NewHandle(size);
  if (!alias) return memFullErr;
  OSErr err = AEGetDescData(&item, *alias, size);
  FSRef file;
  if (err == noErr) err = FSResolveAlias(nullptr, reinterpret_cast<AliasHandle>(alias), &file, nullptr);
  std::vector<UInt8> bytes(4096);
  if (err == noErr)
    err = static_cast<OSErr>(FSRefMakePath(&file, bytes.data(), static_cast<UInt32>(bytes.size())));
  if (err == noErr) *path = reinterpret_cast<const char *>(bytes.data());
  Str63 name = {0};
  if (err != noErr && GetAliasInfo(reinterpret_cast<AliasHandle>(alias), asiAliasName, name) == noErr)
    *path = MacRomanToUTF8(std::string_view(reinterpret_cast<const char *>(name + 1), name[0]));
  DisposeHandle(alias);
  return err;
}

OSErr ForEachKeyItem(const AERecord &record, AEKeyword key,
                     const std::function<OSErr(const AEDesc &)> &read) {
  OwnedDesc list;
  OSErr err = AEGetKeyDesc(&record, key, typeAEList, list.get());
  if (err == errAEDescNotFound) return noErr;
  return err != noErr ? err : ForEachListItem(*list, read);
}

OSErr GetOptionalKeyUTF8(const AERecord &record, AEKeyword key, std::string *text) {
  OSErr err = GetKeyUTF8(record, key, text);
  return err == errAEDescNotFound ? OSErr(noErr) : err;
}

OSErr AddTypedRecipient(const AERecord &record, MailMessage *message) {
  std::string address;
  OSType kind = 0;
  OSErr err = GetKeyUTF8(record, FourCC("addr"), &address);
  if (err == noErr) err = GetKeyCode(record, FourCC("rtyp"), &kind);
  std::vector<MailAddress> *list = err == noErr ? RecipientList(*message, kind) : nullptr;
  if (err == noErr && !list) err = errAEWrongDataType;
  if (err == noErr) list->push_back(ParseMailbox(address));
  return err;
}

OSErr ReadPropertyQuestion(const AppleEvent &event, OSType *property, ObjectParts *of) {
  OwnedDesc direct;
  ObjectParts parts;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = ReadObjectSpecifier(*direct, &parts);
  if (err == noErr) err = PropertyOf(parts, property);
  return err != noErr ? err : ReadObjectSpecifier(*parts.from, of);
}

OSErr DirectObjectID(const AppleEvent &event, DescType want, SInt32 lastID, SInt32 *id) {
  OwnedDesc direct;
  OSErr err = AEGetParamDesc(&event, keyDirectObject, typeWildCard, direct.get());
  if (err == noErr) err = IDOfSpecifier(*direct, want, id);
  return err == noErr && (*id < 1 || *id > lastID) ? OSErr(errAENoSuchObject) : err;
}
