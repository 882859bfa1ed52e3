// The host globals table and the fetch of one global into the plug-in's text form.
#include "external/host/HostGlobals.h"

#include <MacMemory.h>

#include "external/host/HostCallbacks.h"
#include "support/Conversions.h"

#include <cstdlib>
#include <cstring>

const char globFields[] = "_QLXfields";
const char globSubject[] = "_QLXsubject";
const char globTo[] = "_QLXto";
const char globCc[] = "_QLXcc";
const char globBcc[] = "_QLXbcc";
const char globAttachments[] = "_QLXattachments";
const char globEncoding[] = "_QLXencoding";
const char globStuffit[] = "_QLXstuffit";
const char globMessage[] = "_QLXmessage";
const char globClient[] = "_QLXclient";
const char globAccount[] = "_QLXaccount";
const char globHTML[] = "_QLXhtml";

const HostGlobal hostGlobals[12] = {
    {FourCC("Flds"), globFields},   {FourCC("Subj"), globSubject}, {FourCC("To  "), globTo},
    {FourCC("Cc  "), globCc},       {FourCC("Bcc "), globBcc},     {FourCC("Atch"), globAttachments},
    {FourCC("Encd"), globEncoding}, {FourCC("Stuf"), globStuffit}, {FourCC("Mesg"), globMessage},
    {FourCC("Clnt"), globClient},   {FourCC("Acnt"), globAccount}, {FourCC("HTML"), globHTML},
};

const char *GetGlobalName(OSType code) {
  for (const HostGlobal &global : hostGlobals) {
    if (global.code == code) return global.name;
  }
  return nullptr;
}

Boolean LoadPrepareHandle(Handle *out, OSType code) {
  *out = nullptr;
  const char *name = GetGlobalName(code);
  if (name == nullptr) return true;
  int32_t status = 0;
  char *value = GetGlobal(name, &status);
  if (value == nullptr) return true;
  ReplaceCharacters(10, 13, value);
  size_t size = std::strlen(value) + 1;
  *out = NewHandle(Size(size));
  if (*out != nullptr) BlockMoveData(value, **out, Size(size));
  std::free(value);
  return *out != nullptr;
}
