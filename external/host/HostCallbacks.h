// Wrappers over the host's callback table, so that nothing else touches the host's table or
// the host's memory. Strings the host returns are either copied into the plug-in's own
// malloc memory (the wrappers that return char *: caller frees; null when the host gave
// nothing or the copy failed) or released at once. The host's string is released exactly
// once in either case. status is the caller's and is passed through to the host unchanged.
//
// getXtable hands over the host's table and release routine (SetHostCallbacks) before any
// other call; the wrappers must not be called before that.
#pragma once

#include <MacTypes.h>

#include "external/host/HostABI.h"

// Keeps the host's callback table and string-release routine for the wrappers below, in
// variables of the wrappers' file that nothing else reaches; both must outlive every later call.
void SetHostCallbacks(const XCallback *operations, XDeleteRoutine deleteRoutine);

// The copy-and-release step: a malloc copy of text (caller frees), the host's text released.
char *retstr(char *text);

void SendCardMessage(const char *message, int32_t *status);
char *EvalExpr(const char *expression, int32_t *status);
char *GetGlobal(const char *name, int32_t *status);
void SetGlobal(const char *name, const char *value, int32_t *status);
char *GetFieldByName(const char *first, const char *second, int32_t *status);
char *GetFieldByNum(const char *first, int32_t number, int32_t *status);
char *GetFieldById(const char *first, int32_t id, int32_t *status);
void SetFieldByName(const char *first, const char *second, const char *value, int32_t *status);
void SetFieldByNum(const char *first, int32_t number, const char *value, int32_t *status);
void SetFieldById(const char *first, int32_t id, const char *value, int32_t *status);
void ShowImageByName(const char *first, const char *second, int32_t *status);
void ShowImageByNum(const char *first, int32_t number, int32_t *status);
void ShowImageById(const char *first, int32_t id, int32_t *status);
char *GetVariable(const char *name, int32_t *status);
void SetVariable(const char *name, const char *value, int32_t *status);
// valueOut is filled by the host; the plug-in passes it through.
void GetVariableEx(const char *first, const char *second, char **valueOut, int32_t *status);
void SetVariableEx(const char *first, const char *second, const char *value, int32_t *status);
// *countInOut receives the host's count only when the host's status is 0.
void GetArray(const char *name, int32_t *countInOut, int32_t word2, int32_t word3, int32_t *status);
void SetArray(const char *name, int32_t count, int32_t word2, int32_t word3, int32_t *status);
