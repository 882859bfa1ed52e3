// Private to the Apple Event Manager: how a descriptor's data handle holds its content, and the
// few primitives that read and edit it. The content is in the flattened form of AEFlatten.h
// (big-endian words, native-order types stored big-endian); a null handle is empty content.
// Content made here is trusted; content from outside is checked once by ValidContent.
#pragma once

#include <AEDataModel.h>
#include <AEFlatten.h>
#include <Endian.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ae {

// A read-only view of content. It points into a handle: it lives until that handle is resized
// or disposed.
struct Content {
  const uint8_t *bytes = nullptr;
  size_t size = 0;
};

Content ContentOf(const AEDesc *desc);
uint32_t FormOf(Content c);  // kAEFlatFormData for empty content
bool IsComposite(uint32_t form);

// The data of a plain descriptor: the bytes after the form word (none for empty content).
Content DataOf(Content c);

// One item of a list, record or event section.
struct Item {
  AEKeyword key = 0;
  DescType type = 0;
  Content content;
  size_t offset = 0;  // of the item's key word, from the start of the enclosing content
  size_t size = 0;    // the whole item: header and content
};

// A counted run of items within content: the body of a list or record, or one half of an event.
struct Section {
  size_t countAt = 0;  // offset of the count word
  size_t end = 0;      // offset just past the last item
};

// The sections of list, record or event content.
Section ItemsSection(Content c);       // a list's or record's items, an event's parameters
Section AttributesSection(Content c);  // an event's attributes

enum class Part { Items, Attributes };  // Items: a list's or record's items, an event's parameters

// Locates the section of a descriptor. Errors: paramErr for a null pointer, errAEDescIsNull for
// the null descriptor, errAEWrongDataType for plain data, errAENotAppleEvent for attributes of
// something other than an event, errAENotAEDesc for a handle that holds no content of ours.
OSErr SectionOf(const AEDesc *desc, Part part, Section *section);
uint32_t CountOf(Content c, const Section &section);
Item ItemAt(Content c, size_t offset);
bool NthItem(Content c, const Section &section, long index, Item *item);  // index from 1
bool FindItem(Content c, const Section &section, AEKeyword key, Item *item);

// What a put stores: raw data given in native order (becomes plain content), or the content of
// another descriptor, copied as it is.
struct Source {
  DescType type;
  const void *bytes;
  size_t size;
  bool isContent;

  size_t ContentSize() const;
  void WriteContent(uint8_t *to) const;  // ContentSize() bytes
};
Source RawSource(DescType type, const void *data, Size size);
// The source for data given to a put call. 'list', 'reco' and 'aevt' data is made into a
// descriptor in *holder first (AECreateDesc), which the caller disposes after the put.
OSErr PutSource(DescType type, const void *data, Size size, AEDesc *holder, Source *source);
// The content of a descriptor as a source: paramErr for a null pointer, errAENotAEDesc for a
// handle that holds no content of ours.
OSErr DescSource(const AEDesc *desc, Source *source);
bool WellFormed(Content c);  // the outer shape only; inner items are trusted

// Writes key, type, length and content at `at`; returns the byte after them.
uint8_t *WriteItem(uint8_t *at, AEKeyword key, const Source &source);

// Replaces the item at `offset` (oldSize bytes; 0 to insert there) by key and source, keeping
// the counts right. The handle is left unchanged on failure (memFullErr). The source must not
// point into h; PutItem copies it out first when it does.
OSErr PutItem(Handle h, const Section &section, size_t offset, size_t oldSize, AEKeyword key,
              const Source &source);
OSErr DeleteItem(Handle h, const Section &section, const Item &item);

// Keyed access to a record's items, an event's parameters (Part::Items) or its attributes. A
// put replaces the item of that key where it is, or appends one. Lists answer
// errAEWrongDataType; a missing key is errAEDescNotFound.
OSErr PutKeyed(AEDesc *desc, Part part, AEKeyword key, const Source &source);
OSErr FindKeyed(const AEDesc *desc, Part part, AEKeyword key, Item *item);
OSErr DeleteKeyed(AEDesc *desc, Part part, AEKeyword key);

// A new handle holding the content of source; null content gives a null handle. memFullErr.
OSErr NewContentHandle(const Source &source, Handle *result);
// A new empty list, record or event content in a handle.
Handle NewCompositeHandle(uint32_t form);

// Native-order data of a plain descriptor to the stored (big-endian) order and back. Types not
// held in native order, and sizes other than their own, are copied unchanged.
bool IsNativeOrderType(DescType type, size_t size);
void NativeToStored(DescType type, const void *from, void *to, size_t size);
void StoredToNative(DescType type, const void *from, void *to, size_t size);

// Copies the data of an item or descriptor to a caller's buffer in native order: at most
// maximumSize bytes, *actualSize the full size. Composite content is copied as it is stored.
void CopyData(DescType type, Content c, void *to, Size maximumSize, Size *actualSize);

// Checks untrusted content against the rules of AEFlatten.h; depth counts enclosing composites.
bool ValidContent(DescType type, const uint8_t *bytes, size_t size, int depth);

// Coerces content of the given type; result is a new descriptor, the null descriptor on failure.
OSErr CoerceContent(DescType fromType, Content c, DescType toType, AEDesc *result);
// Whether a record may take this descriptor type: 'reco', or any type that is not one of the
// plain data types, 'list' or 'aevt'.
bool IsRecordType(DescType type);
// 'list', 'reco' and 'aevt' descriptors always hold their own composite form.
bool IsCompositeType(DescType type);

// Sets *result to the descriptor with the content of an item, coerced unless desiredType is
// typeWildCard or the item's own type.
OSErr ItemToDesc(const Item &item, DescType desiredType, AEDesc *result);
// Copies an item's data, coerced likewise, to a caller's buffer.
OSErr ItemToPtr(const Item &item, DescType desiredType, DescType *typeCode, void *dataPtr, Size maximumSize,
                Size *actualSize);

// Text of the types 'TEXT' (Mac OS Roman), 'utf8' and 'utxt' (UTF-16 in native order, with or
// without a byte-order mark) as Unicode scalar values, and back. Malformed input decodes to
// U+FFFD; characters that the target cannot hold are written as '?'.
bool IsTextType(DescType type);
void DecodeText(DescType type, const uint8_t *bytes, size_t size, std::u32string *text);
void EncodeText(DescType type, const std::u32string &text, std::string *bytes);

}  // namespace ae
