// Aliases arrive as 'alis' data in events from other processes: any bytes must be refused
// or read within their size, and a name read from them must fit its Str63.
#include <Aliases.h>
#include <MacErrors.h>
#include <MacMemory.h>

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Handle handle = NewHandle(Size(size));
  if (handle == nullptr) return 0;
  if (size > 0) std::memcpy(*handle, data, size);
  auto alias = reinterpret_cast<AliasHandle>(handle);
  Str63 name;
  for (AliasInfoType index = asiZoneName; index <= 3; index++) {
    OSErr err = GetAliasInfo(alias, index, name);
    if (err != noErr && err != paramErr) std::abort();
    if (err == noErr && name[0] > 63) std::abort();
  }
  FSRef ref;
  FSResolveAlias(nullptr, alias, &ref, nullptr);
  DisposeHandle(handle);
  return 0;
}
