#include "merge/MergedMessage.h"

#include <MacErrors.h>
#include <MacMemory.h>
#include <TextUtils.h>

#include <cstring>

#include "clients/ClientConnection.h"
#include "merge/MergeState.h"
#include "send/SendDispatcher.h"
#include "store/Globals.h"
#include "store/RecordStore.h"
#include "support/ErrorReporting.h"

namespace {

constexpr UInt8 kFieldSeparator = 0xFF;

// Where one template's merged text lies in the merged block.
struct MergedPart {
  UInt32 offset;
  UInt32 length;  // 0 for a missing template
};

// Cells left to right: each field runs up to the next 0xFF or the end of the record; once
// the end is reached the remaining cells are empty. Fields past mergeFields are not used.
void SplitRecord(const char *record, UInt32 length) {
  UInt32 at = 0;
  for (SInt16 k = 0; k < mergeFields; k++) {
    const void *separator = at < length ? std::memchr(record + at, kFieldSeparator, length - at) : nullptr;
    UInt32 stop = separator != nullptr ? UInt32(static_cast<const char *>(separator) - record) : length;
    mergeCell[k] = {at, stop - at};
    at = separator != nullptr ? stop + 1 : length;
  }
}

UInt32 ValueLength(const MergePlace &place, UInt32 numberLength) {
  return place.field == kRecordNumberField ? numberLength : mergeCell[place.field].length;
}

// Sizes every part from its template's length and the values going in. False when the
// merged text could not be addressed with 32-bit offsets.
bool SizeParts(MergedPart parts[kMergeTemplates], UInt32 numberLength, UInt64 *total) {
  const MergePlace *place = mergePlace;
  const MergePlace *end = mergePlace + mergePlaces;
  UInt64 running = 0;
  for (UInt16 i = 0; i < kMergeTemplates; i++) {
    UInt64 length = MergeTemplateLength(i);
    for (; place < end && place->param == i; place++)
      length = length - place->length + ValueLength(*place, numberLength);
    parts[i] = {UInt32(running), UInt32(length)};
    running += length;
    if (running > 0xFFFFFFFFu) return false;
  }
  *total = running;
  return true;
}

char *CopyBytes(char *to, const char *from, UInt32 count) {
  if (count != 0) std::memcpy(to, from, count);
  return to + count;
}

// Copies each template into its part, replacing every place by its value.
void BuildParts(char *merged, const MergedPart parts[kMergeTemplates], const char *record, const char *number,
                UInt32 numberLength) {
  const MergePlace *place = mergePlace;
  const MergePlace *end = mergePlace + mergePlaces;
  for (UInt16 i = 0; i < kMergeTemplates; i++) {
    const MergePlace *first = place;
    while (place < end && place->param == i) place++;
    if (parts[i].length == 0) continue;
    const char *text = *mergeParam[i];
    char *out = merged + parts[i].offset;
    UInt32 from = 0;
    for (const MergePlace *p = first; p < place; p++) {
      out = CopyBytes(out, text + from, p->offset - from);
      if (p->field == kRecordNumberField) {
        out = CopyBytes(out, number, numberLength);
      } else {
        out = CopyBytes(out, record + mergeCell[p->field].offset, mergeCell[p->field].length);
      }
      from = p->offset + p->length;
    }
    CopyBytes(out, text + from, MergeTemplateLength(i) - from);
  }
}

void FillMessage(EmailClientMessage *message, const char *merged, const MergedPart parts[kMergeTemplates]) {
  ClearEmailClientMessage(message);
  message->subject = merged + parts[kTemplateSubject].offset;
  message->subjectLength = parts[kTemplateSubject].length;
  message->body = merged + parts[kTemplateMessage].offset;
  message->bodyLength = parts[kTemplateMessage].length;
  message->to = merged + parts[kTemplateTo].offset;
  message->toLength = parts[kTemplateTo].length;
  message->cc = merged + parts[kTemplateCc].offset;
  message->ccLength = parts[kTemplateCc].length;
  message->bcc = merged + parts[kTemplateBcc].offset;
  message->bccLength = parts[kTemplateBcc].length;
  message->attachments = merged + parts[kTemplateAttachments].offset;
  message->attachmentsLength = parts[kTemplateAttachments].length;
  message->account = merged + parts[kTemplateAccount].offset;
  message->accountLength = parts[kTemplateAccount].length;
  message->encoding = mergeEncoding;
  message->stuffit = mergeStuffit;
  message->html = mergeHTML;
  message->queue = true;
}

// A send that timed out leaves the message's fate open (a slow client may still queue it)
// and the client perhaps frozen: the connection is marked, so that no later "Merg" waits on
// it again, and the user is told once. So is a message too large to be handed over. Other
// refusals are the client's own and only answer false.
void ReportSendFailure(SInt32 status) {
  if (status == errAETimeout) connection->timedOut = true;
  if (status == errAETimeout || status == errAEBufferTooSmall) TestError(OSErr(status));
}

// Merges the copied record into one message and sends it.
Boolean MergeRecord(const char *record, UInt32 recordLength, SInt32 index) {
  SplitRecord(record, recordLength);
  Str255 number;
  NumToString(long(index) + 1, number);
  MergedPart parts[kMergeTemplates];
  UInt64 total = 0;
  if (!SizeParts(parts, number[0], &total)) {
    TestMemError(nullptr);  // far beyond any heap: report it as memory full
    return false;
  }
  if (parts[kTemplateTo].length == 0 && parts[kTemplateCc].length == 0 && parts[kTemplateBcc].length == 0) {
    return true;  // no recipients: the record is skipped
  }
  Ptr merged = NewPtr(Size(total));
  if (TestMemError(merged) != noErr) return false;
  BuildParts(merged, parts, record, reinterpret_cast<const char *>(number + 1), number[0]);
  EmailClientMessage message;
  FillMessage(&message, merged, parts);
  SInt32 status = SendEmailClientMessage(connection, &message);
  DisposePtr(merged);
  ReportSendFailure(status);
  return status == noErr;
}

}  // namespace

Boolean CreateMergedEmailMessage(SInt32 index) {
  if (connection == nullptr || connection->timedOut) return false;
  if (connectionMessages < 0x7FFFFFFF) connectionMessages++;
  if (connectionMessages == kHideClientAtMessage) ShowHideEmailClientConnection(connection, false);

  RecordStore *store = &globals.records;
  if (store->data == nullptr || index < 0 || index >= DictionaryItems(store)) return false;
  UInt32 length = DictionaryLength(store, index);
  Ptr record = NewPtr(Size(length));
  if (TestMemError(record) != noErr) return false;
  DictionaryRead(store, index, record, length);
  Boolean sent = MergeRecord(record, length, index);
  DisposePtr(record);
  return sent;
}

void FinishEmailClientConnection() {
  ReleaseMergeState();
}
