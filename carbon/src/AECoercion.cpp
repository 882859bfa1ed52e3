// Coercion: AECoerceDesc, AECoercePtr and the coercions that the get calls apply.
//
// Records change only their descriptor type ('reco' <-> 'obj ', 'insl' or any other record
// type); anything becomes a one-item list, and a one-item list becomes its item. Plain data
// converts through one of four values: a number ('shor', 'long', 'magn', 'bool', 'true',
// 'fals', the enumerators 'true' and 'fals', decimal text), a Boolean, a four-character code
// ('enum', 'type', 'keyw', 'prop', 'abso', four characters of text) or text. Text targets take
// numbers as decimal, codes as their four characters, Booleans as "true" and "false".
#include <AEDataModel.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <cstring>
#include <limits>
#include <string>

namespace {

using ae::Content;

bool IsNumberType(DescType t) {
  return t == typeSInt16 || t == typeSInt32 || t == typeUInt32;
}

bool IsCodeType(DescType t) {
  return t == typeEnumerated || t == typeType || t == typeKeyword || t == typeProperty ||
         t == typeAbsoluteOrdinal;
}

bool IsBooleanType(DescType t) {
  return t == typeBoolean || t == typeTrue || t == typeFalse;
}

// Decimal text with optional blanks around it and an optional sign.
bool ParseDecimal(const std::u32string &text, int64_t *value) {
  size_t i = 0;
  size_t end = text.size();
  auto blank = [](char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < end && blank(text[i])) i++;
  while (end > i && blank(text[end - 1])) end--;
  bool negative = i < end && text[i] == '-';
  if (i < end && (text[i] == '-' || text[i] == '+')) i++;
  if (i == end) return false;
  int64_t v = 0;
  for (; i < end; i++) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (v > (std::numeric_limits<int64_t>::max() - 9) / 10) return false;
    v = v * 10 + int64_t(text[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

bool ReadCode(DescType type, Content data, uint32_t *code);

bool ReadNumber(DescType type, Content data, int64_t *value) {
  if (type == typeSInt16 && data.size == 2) {
    *value = int16_t(GetBigEndian16(data.bytes));
  } else if (type == typeSInt32 && data.size == 4) {
    *value = int32_t(GetBigEndian32(data.bytes));
  } else if ((type == typeUInt32 && data.size == 4)) {
    *value = GetBigEndian32(data.bytes);
  } else if (type == typeBoolean && data.size == 1) {
    *value = data.bytes[0] != 0;
  } else if (type == typeTrue || type == typeFalse) {
    *value = type == typeTrue;
  } else if (type == typeEnumerated && data.size == 4) {
    uint32_t code = GetBigEndian32(data.bytes);
    if (code != typeTrue && code != typeFalse) return false;
    *value = code == typeTrue;
  } else if (ae::IsTextType(type)) {
    std::u32string text;
    ae::DecodeText(type, data.bytes, data.size, &text);
    return ParseDecimal(text, value);
  } else {
    return false;
  }
  return true;
}

bool ReadBoolean(DescType type, Content data, bool *value) {
  int64_t number;
  if (ae::IsTextType(type) || !ReadNumber(type, data, &number)) return false;
  if (type != typeBoolean && number != 0 && number != 1) return false;
  *value = number != 0;
  return true;
}

bool ReadCode(DescType type, Content data, uint32_t *code) {
  if (IsCodeType(type) && data.size == 4) {
    *code = GetBigEndian32(data.bytes);
    return true;
  }
  if (!ae::IsTextType(type)) return false;
  std::u32string text;
  std::string roman;
  ae::DecodeText(type, data.bytes, data.size, &text);
  ae::EncodeText(typeChar, text, &roman);
  if (roman.size() != 4) return false;
  *code = GetBigEndian32(roman.data());
  return true;
}

bool ReadText(DescType type, Content data, std::u32string *text) {
  int64_t number;
  uint32_t code;
  bool boolean;
  if (ae::IsTextType(type)) {
    ae::DecodeText(type, data.bytes, data.size, text);
  } else if (IsNumberType(type) && ReadNumber(type, data, &number)) {
    std::string digits = std::to_string(number);
    text->assign(digits.begin(), digits.end());
  } else if (IsCodeType(type) && ReadCode(type, data, &code)) {
    uint8_t chars[4];
    PutBigEndian32(chars, code);
    ae::DecodeText(typeChar, chars, 4, text);
  } else if (IsBooleanType(type) && ReadBoolean(type, data, &boolean)) {
    text->assign(boolean ? U"true" : U"false");
  } else {
    return false;
  }
  return true;
}

// The converted data of plain data, in native order, into *bytes.
bool ConvertData(DescType from, Content data, DescType to, std::string *bytes) {
  int64_t number;
  bool boolean;
  uint32_t code;
  std::u32string text;
  auto put = [bytes](const auto &v) { bytes->assign(reinterpret_cast<const char *>(&v), sizeof v); };
  switch (to) {
    case typeSInt16:
      if (!ReadNumber(from, data, &number) || number < INT16_MIN || number > INT16_MAX) return false;
      put(int16_t(number));
      return true;
    case typeSInt32:
      if (!ReadNumber(from, data, &number) || number < INT32_MIN || number > INT32_MAX) return false;
      put(int32_t(number));
      return true;
    case typeUInt32:
      if (!ReadNumber(from, data, &number) || number < 0 || number > UINT32_MAX) return false;
      put(uint32_t(number));
      return true;
    case typeBoolean:
      if (!ReadBoolean(from, data, &boolean)) return false;
      put(uint8_t(boolean));
      return true;
    case typeEnumerated:
      if (!IsCodeType(from) && !ae::IsTextType(from) && ReadBoolean(from, data, &boolean)) {
        put(uint32_t(boolean ? typeTrue : typeFalse));
        return true;
      }
      [[fallthrough]];
    case typeType:
    case typeKeyword:
    case typeProperty:
    case typeAbsoluteOrdinal:
      if (!ReadCode(from, data, &code)) return false;
      put(code);
      return true;
    case typeChar:
    case typeUTF8Text:
    case typeUnicodeText:
      if (!ReadText(from, data, &text)) return false;
      ae::EncodeText(to, text, bytes);
      return true;
    default:
      return false;
  }
}

OSErr NewDesc(DescType type, const ae::Source &source, AEDesc *result) {
  Handle h;
  OSErr err = ae::NewContentHandle(source, &h);
  if (err != noErr) return err;
  result->descriptorType = type;
  result->dataHandle = h;
  return noErr;
}

OSErr WrapInList(DescType type, Content c, AEDesc *result) {
  Handle h = NewHandle(Size(4 + 4 + kAEFlatItemHeaderSize + c.size));
  if (h == nullptr) return memFullErr;
  auto *at = reinterpret_cast<uint8_t *>(*h);
  PutBigEndian32(at, kAEFlatFormList);
  PutBigEndian32(at + 4, 1);
  ae::WriteItem(at + 8, typeWildCard, {type, c.bytes, c.size, true});
  result->descriptorType = typeAEList;
  result->dataHandle = h;
  return noErr;
}

OSErr Coerce(DescType from, Content c, DescType to, AEDesc *result) {
  if (to == from || to == typeWildCard) return NewDesc(from, {from, c.bytes, c.size, true}, result);
  if (to == typeAEList) return WrapInList(from, c, result);
  uint32_t form = ae::FormOf(c);
  if (form == kAEFlatFormList) {
    ae::Section section = ae::ItemsSection(c);
    ae::Item item;
    if (ae::CountOf(c, section) != 1 || !ae::NthItem(c, section, 1, &item)) return errAECoercionFail;
    return Coerce(item.type, item.content, to, result);
  }
  if (form == kAEFlatFormRecord) {
    if (!ae::IsRecordType(to)) return errAECoercionFail;
    return NewDesc(to, {to, c.bytes, c.size, true}, result);
  }
  if (form != kAEFlatFormData) return errAECoercionFail;
  std::string bytes;
  if (!ConvertData(from, ae::DataOf(c), to, &bytes)) return errAECoercionFail;
  return NewDesc(to, ae::RawSource(to, bytes.data(), Size(bytes.size())), result);
}

}  // namespace

namespace ae {

bool IsRecordType(DescType type) {
  switch (type) {
    case typeAERecord:
      return true;
    case typeNull:
    case typeBoolean:
    case typeTrue:
    case typeFalse:
    case typeSInt16:
    case typeSInt32:
    case typeUInt32:
    case typeSInt64:
    case typeIEEE32BitFloatingPoint:
    case typeIEEE64BitFloatingPoint:
    case typeEnumerated:
    case typeType:
    case typeKeyword:
    case typeProperty:
    case typeChar:
    case typeUTF8Text:
    case typeUnicodeText:
    case typeCString:
    case typePString:
    case typeAEList:
    case typeAppleEvent:
    case typeAbsoluteOrdinal:
    case typeProcessSerialNumber:
    case typeApplSignature:
    case typeKernelProcessID:
    case typeAlias:
    case typeFSS:
    case typeFSRef:
    case typeFileURL:
    case typeWildCard:
    case typeLongDateTime:
      return false;
    default:
      return true;
  }
}

OSErr CoerceContent(DescType fromType, Content c, DescType toType, AEDesc *result) {
  AEDesc coerced{typeNull, nullptr};
  OSErr err = Coerce(fromType, c, toType, &coerced);
  *result = coerced;
  return err;
}

}  // namespace ae

OSErr AECoercePtr(DescType typeCode, const void *dataPtr, Size dataSize, DescType toType, AEDesc *result) {
  if (result == nullptr) return paramErr;
  AEDesc plain;
  OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &plain);
  if (err == noErr)
    err = AECoerceDesc(&plain, toType, result);
  else
    AEInitializeDesc(result);
  AEDisposeDesc(&plain);
  return err;
}

OSErr AECoerceDesc(const AEDesc *theAEDesc, DescType toType, AEDesc *result) {
  if (result == nullptr) return paramErr;
  ae::Source source;
  OSErr err = ae::DescSource(theAEDesc, &source);
  if (err != noErr) {
    AEInitializeDesc(result);
    return err;
  }
  return ae::CoerceContent(source.type, {static_cast<const uint8_t *>(source.bytes), source.size}, toType,
                           result);
}
