#include "merge/MergeState.h"

#include <MacMemory.h>

#include <cstring>

#include "clients/ClientConnection.h"

Handle mergeParam[kMergeTemplates];
MergePlace *mergePlace;
UInt32 mergePlaces;
MergeCell *mergeCell;
SInt16 mergeFields;
UInt32 mergeEncoding;
Boolean mergeStuffit;
Boolean mergeHTML;
EmailClientConnection *connection;
SInt32 connectionMessages;

UInt32 MergeTemplateLength(UInt16 index) {
  Handle h = mergeParam[index];
  if (h == nullptr || *h == nullptr) return 0;
  size_t length = strnlen(*h, size_t(GetHandleSize(h)));
  return length > 0xFFFFFFFFu ? 0xFFFFFFFFu : UInt32(length);
}

void ReleaseMergePlaces() {
  DisposePtr(reinterpret_cast<Ptr>(mergePlace));
  DisposePtr(reinterpret_cast<Ptr>(mergeCell));
  mergePlace = nullptr;
  mergeCell = nullptr;
  mergePlaces = 0;
  mergeFields = 0;
}

void ReleaseMergeState() {
  for (Handle &param : mergeParam) {
    DisposeHandle(param);
    param = nullptr;
  }
  ReleaseMergePlaces();
  if (connection != nullptr) {
    if (connectionMessages >= kHideClientAtMessage) ShowHideEmailClientConnection(connection, true);
    CloseEmailClientConnection(connection);
    connection = nullptr;
  }
}
