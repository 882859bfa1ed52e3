// The plug-in's entry: getXtable, the external table, ExternalMain and the dispatcher.
//
// getXtable is the bundle's one export (see HostABI.h for the contract a host relies on).
// ExternalMain turns the host's arguments into a selector, a text and a number and hands
// them to CallExternal, whose result (a malloc string, or null) goes to the host, which
// releases it with free.
#pragma once

#include <MacTypes.h>

#include "external/host/HostABI.h"

extern "C" {
__attribute__((visibility("default"))) void getXtable(const XCallback *operations,
                                                      XDeleteRoutine deleteRoutine, const char **nameOut,
                                                      const XTableEntry **tableOut, XFreeRoutine *freeOut);
}

extern const XTableEntry g_external_table[2];
extern const char *const g_external_name;

void ExternalMain(char **args, int32_t argCount, char **result, int32_t *pass, int32_t *error);

// The result is a malloc string that the caller frees, or null. text may be null.
char *CallExternal(OSType selector, char *text, SInt32 number);

// A selector's handler, for the later subsystems' entries in the dispatch table.
typedef char *(*SelectorHandler)(char *text, SInt32 number);
