// AEPrint: any descriptor as one line of text in AEPrint syntax (the forms are listed in
// AEHelpers.h).
#include <AEHelpers.h>
#include <MacErrors.h>

#include "AEStorage.h"

#include <string>

namespace {

using ae::Content;

// Attributes that every event carries, or that the Apple Event Manager sets itself; only other
// attributes are worth showing.
bool IsStandardAttribute(AEKeyword key) {
  switch (key) {
    case keyAddressAttr:
    case keyEventClassAttr:
    case keyEventIDAttr:
    case keyReturnIDAttr:
    case keyTransactionIDAttr:
    case keyTimeoutAttr:
    case keyInteractLevelAttr:
    case keyEventSourceAttr:
    case keyOriginalAddressAttr:
    case keyOptionalKeywordAttr:
    case keyMissedKeywordAttr:
    case keyReplyRequestedAttr:
    case keyAcceptTimeoutAttr:
      return true;
    default:
      return false;
  }
}

// Runs of printable bytes are copied whole: every event a stand-in receives is printed to
// its journal, and message texts are most of those bytes.
void AppendEscaped(std::string *out, const uint8_t *bytes, size_t size, char quote) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t run = 0;  // start of the printable bytes not yet copied
  for (size_t i = 0; i < size; i++) {
    uint8_t b = bytes[i];
    bool printable = b >= 0x20 && b < 0x7F;
    if (printable && b != uint8_t(quote) && b != '\\') continue;
    out->append(reinterpret_cast<const char *>(bytes + run), i - run);
    run = i + 1;
    if (printable) {
      out->push_back('\\');
      out->push_back(char(b));
    } else {
      out->append("\\x");
      out->push_back(kHex[b >> 4]);
      out->push_back(kHex[b & 15]);
    }
  }
  out->append(reinterpret_cast<const char *>(bytes + run), size - run);
}

void AppendCode(std::string *out, uint32_t code) {
  uint8_t chars[4];
  PutBigEndian32(chars, code);
  out->push_back('\'');
  AppendEscaped(out, chars, 4, '\'');
  out->push_back('\'');
}

void AppendString(std::string *out, const uint8_t *bytes, size_t size) {
  out->push_back('"');
  AppendEscaped(out, bytes, size, '"');
  out->push_back('"');
}

void AppendHex(std::string *out, Content data) {
  static const char kHex[] = "0123456789ABCDEF";
  out->push_back('$');
  for (size_t i = 0; i < data.size; i++) {
    out->push_back(kHex[data.bytes[i] >> 4]);
    out->push_back(kHex[data.bytes[i] & 15]);
  }
  out->push_back('$');
}

// The size of the types printed as numbers, codes and Booleans; data of another size is hex.
size_t PrintedSize(DescType type) {
  switch (type) {
    case typeSInt16:
      return 2;
    case typeBoolean:
      return 1;
    case typeSInt32:
    case typeUInt32:
    case typeEnumerated:
    case typeType:
    case typeKeyword:
    case typeProperty:
    case typeAbsoluteOrdinal:
      return 4;
    default:
      return 0;
  }
}

void AppendData(std::string *out, DescType type, Content data) {
  if (data.size == 0) {
    if (type == typeNull) {
      out->append("null()");
    } else {
      AppendCode(out, type);
      out->append("()");
    }
    return;
  }
  switch (PrintedSize(type) == data.size ? type : 0) {
    case typeSInt32:
      out->append(std::to_string(int32_t(GetBigEndian32(data.bytes))));
      return;
    case typeSInt16:
      out->append(std::to_string(int16_t(GetBigEndian16(data.bytes))));
      return;
    case typeUInt32:
      out->append("'magn'(" + std::to_string(GetBigEndian32(data.bytes)) + ")");
      return;
    case typeEnumerated:
      AppendCode(out, GetBigEndian32(data.bytes));
      return;
    case typeType:
      out->append("type(");
      AppendCode(out, GetBigEndian32(data.bytes));
      out->push_back(')');
      return;
    case typeKeyword:
    case typeProperty:
    case typeAbsoluteOrdinal:
      AppendCode(out, type);
      out->push_back('(');
      AppendCode(out, GetBigEndian32(data.bytes));
      out->push_back(')');
      return;
    case typeBoolean:
      out->append(data.bytes[0] != 0 ? "true" : "false");
      return;
    default:
      break;
  }
  if (type == typeChar) {
    AppendString(out, data.bytes, data.size);
  } else if (type == typeUTF8Text || type == typeUnicodeText) {
    std::string utf8;
    if (type == typeUnicodeText) {
      std::u32string text;
      ae::DecodeText(type, data.bytes, data.size, &text);
      ae::EncodeText(typeUTF8Text, text, &utf8);
    } else {
      utf8.assign(reinterpret_cast<const char *>(data.bytes), data.size);
    }
    AppendCode(out, type);
    out->push_back('(');
    AppendString(out, reinterpret_cast<const uint8_t *>(utf8.data()), utf8.size());
    out->push_back(')');
  } else {
    AppendCode(out, type);
    out->push_back('(');
    AppendHex(out, data);
    out->push_back(')');
  }
}

void AppendDesc(std::string *out, DescType type, Content c);

// The items of a section, each after a separator; returns how many were written.
int AppendItems(std::string *out, Content c, const ae::Section &section, bool keyed, bool attributes,
                int written) {
  ae::Item item;
  for (size_t at = section.countAt + 4; at < section.end; at += item.size) {
    item = ae::ItemAt(c, at);
    if (attributes && IsStandardAttribute(item.key)) continue;
    out->append(written++ == 0 ? " " : ", ");
    if (attributes) out->push_back('&');
    if (keyed) {
      AppendCode(out, item.key);
      out->push_back(':');
    }
    AppendDesc(out, item.type, item.content);
  }
  return written;
}

uint32_t AttributeCode(Content c, const ae::Section &attributes, AEKeyword key) {
  ae::Item item;
  if (!ae::FindItem(c, attributes, key, &item) || ae::FormOf(item.content) != kAEFlatFormData)
    return typeWildCard;
  Content data = ae::DataOf(item.content);
  return data.size == 4 ? GetBigEndian32(data.bytes) : uint32_t(typeWildCard);
}

void AppendDesc(std::string *out, DescType type, Content c) {
  uint32_t form = ae::FormOf(c);
  if (!ae::IsComposite(form)) {
    AppendData(out, type, ae::DataOf(c));
    return;
  }
  if (form == kAEFlatFormList) {
    out->push_back('[');
    AppendItems(out, c, ae::ItemsSection(c), false, false, 0);
    out->append(" ]");
    return;
  }
  if (form == kAEFlatFormEvent) {
    ae::Section attributes = ae::AttributesSection(c);
    AppendCode(out, AttributeCode(c, attributes, keyEventClassAttr));
    out->push_back('\\');
    AppendCode(out, AttributeCode(c, attributes, keyEventIDAttr));
    out->push_back('{');
    int written = AppendItems(out, c, ae::ItemsSection(c), true, false, 0);
    AppendItems(out, c, attributes, true, true, written);
  } else {
    if (type != typeAERecord) AppendCode(out, type);
    out->push_back('{');
    AppendItems(out, c, ae::ItemsSection(c), true, false, 0);
  }
  out->append(" }");
}

}  // namespace

OSStatus AEPrintDescToHandle(const AEDesc *desc, Handle *result) {
  if (result == nullptr) return paramErr;
  *result = nullptr;
  ae::Source source;
  OSErr err = ae::DescSource(desc, &source);
  if (err != noErr) return err;
  std::string text;
  AppendDesc(&text, source.type, {static_cast<const uint8_t *>(source.bytes), source.size});
  return PtrToHand(text.data(), result, long(text.size()));
}
