// What the stand-in email clients share in reading and answering Apple Events: texts in
// either encoding a client accepts, object specifiers, attachment paths, and an owning
// descriptor. Everything here reads untrusted events defensively: a missing or ill-typed
// part gives an Apple Event Manager error, never a crash.
#pragma once

#include <AppleEvents.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/mailstore/MailMessage.h"

// An AEDesc that disposes itself; get() hands it to the Apple Event calls.
class OwnedDesc {
 public:
  OwnedDesc() { AEInitializeDesc(&desc_); }
  ~OwnedDesc() { AEDisposeDesc(&desc_); }
  OwnedDesc(const OwnedDesc &) = delete;
  OwnedDesc &operator=(const OwnedDesc &) = delete;
  AEDesc *get() { return &desc_; }
  const AEDesc &operator*() const { return desc_; }
  DescType type() const { return desc_.descriptorType; }

 private:
  AEDesc desc_;
};

// The text of a descriptor as UTF-8: 'TEXT' is Mac OS Roman, 'utf8' is taken as UTF-8
// (made valid), any other type is coerced to 'utf8' by the Apple Event Manager.
OSErr DescToUTF8(const AEDesc &desc, std::string *text);
// The same for a parameter of an event, or a key of a record ('prdt' and the like).
OSErr GetParamUTF8(const AppleEvent &event, AEKeyword key, std::string *text);
OSErr GetKeyUTF8(const AERecord &record, AEKeyword key, std::string *text);

// Whether the sender waits for this reply: for an event sent without wanting one, the kit
// hands handlers the null descriptor, and nothing put into it would be kept.
inline bool WantsReply(const AppleEvent &reply) {
  return reply.descriptorType != typeNull;
}

// A number descriptor ('shor', 'long' or anything that coerces) as a 32-bit integer.
OSErr DescToLong(const AEDesc &desc, SInt32 *value);

// The element an index selector picks among count elements: 'long' n counts from 1 (a
// negative n from the end), 'abso' 'firs', 'last' and 'all ' do what they say; *all is set
// for 'all ' (and *index to 0). errAEIllegalIndex when the index lies outside 1..count.
OSErr ReadIndexSelector(const AEDesc &seld, long count, long *index, bool *all);

// A 16-bit or 32-bit integer parameter or key, read as 'long'.
OSErr GetKeyLong(const AERecord &record, AEKeyword key, SInt32 *value);
// A four-character code of the types 'type' or 'enum' (keys 'form', 'want', enumerators).
OSErr GetKeyCode(const AERecord &record, AEKeyword key, OSType *code);

// The parts of an object specifier (a record of type 'obj '). seld and from are copies
// owned by the ObjectParts; from is the null descriptor for the application itself.
struct ObjectParts {
  OSType form = 0;
  DescType want = 0;
  OwnedDesc seld;
  OwnedDesc from;
};
OSErr ReadObjectSpecifier(const AEDesc &specifier, ObjectParts *parts);

// The property code of obj(form 'prop', want 'prop', seld 'type' code, from ...);
// errAENoSuchObject for a specifier of another form.
OSErr PropertyOf(const ObjectParts &parts, OSType *property);

// A new object specifier in result (caller disposes): obj(form, want, seld, from), with
// 'from' the null descriptor when container is null.
OSErr MakeObjectSpecifier(OSType form, DescType want, DescType seldType, const void *seldData, Size seldSize,
                          const AEDesc *container, AEDesc *result);

// A text answer for the reply's direct parameter, as 'TEXT' (Mac OS Roman).
OSErr PutReplyText(AppleEvent &reply, const std::string &utf8);
// Appends one name as 'TEXT' to a list.
OSErr AppendListText(AEDescList *list, const std::string &utf8);

// The file path an attachment item names: an object specifier whose 'seld' is the path
// (form 'name', of class 'alis' or 'file'), or the path as a text descriptor. The path is
// taken as a POSIX path; Mac OS Roman text is transcoded to UTF-8 first.
OSErr AttachmentItemPath(const AEDesc &item, std::string *path);

// The path of a file given as an alias ('alis', resolved by the Alias Manager) or as a path
// text. For an alias that resolves to nothing, the error (fnfErr) and the file's own name.
OSErr AliasItemPath(const AEDesc &item, std::string *path);

// Calls read with each item of a list, in order, until one fails; a descriptor that is no
// list counts as a list of itself. ForEachKeyItem does it for the list under a record's key,
// which may be missing (no items).
OSErr ForEachListItem(const AEDesc &list, const std::function<OSErr(const AEDesc &)> &read);
OSErr ForEachKeyItem(const AERecord &record, AEKeyword key, const std::function<OSErr(const AEDesc &)> &read);

// GetKeyUTF8 for a key that may be missing: text is then left as it was.
OSErr GetOptionalKeyUTF8(const AERecord &record, AEKeyword key, std::string *text);

// Adds the recipient of a record {'addr': the address in any form, 'rtyp': '!to ', '!cc '
// or '!bcc'} to the message (Outlook Express, Entourage, PowerMail).
OSErr AddTypedRecipient(const AERecord &record, MailMessage *message);

// The parts of a get-data question, obj(form 'prop', want 'prop', seld property, from of):
// its direct parameter read into property and of.
OSErr ReadPropertyQuestion(const AppleEvent &event, OSType *property, ObjectParts *of);

// The id of the object of class want that the event's direct parameter names by unique ID,
// one of those made so far (1 to lastID); errAENoSuchObject for any other.
OSErr DirectObjectID(const AppleEvent &event, DescType want, SInt32 lastID, SInt32 *id);

// The recipients of one kind: '!to ', '!cc ' or '!bcc' (the codes of Outlook Express,
// Entourage, PowerMail and Mailsmith); null for another code.
std::vector<MailAddress> *RecipientList(MailMessage &message, DescType kind);

// Answers the names of the objects obj(form 'indx', want ..., seld n or 'all ') picks among
// names: one text, or a list for 'all '. errAENoSuchObject for an index past the last.
OSErr AnswerIndexedNames(const ObjectParts &indexed, const std::vector<std::string> &names,
                         AppleEvent &reply);

// The object specifier obj(form 'ID  ', want, seld long id, from null) that answers for
// the objects a client makes, and the id in one (errAENoSuchObject for another form or class).
OSErr MakeIDSpecifier(DescType want, SInt32 id, AEDesc *result);
OSErr IDOfSpecifier(const AEDesc &specifier, DescType want, SInt32 *id);
