// The host callback wrappers.
#include "external/host/HostCallbacks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The host's table and string-release routine, kept here alone: every call to the host goes
// through the wrappers below.
const XCallback *s_operations = nullptr;
XDeleteRoutine s_delete = nullptr;

intptr_t Word(const void *p) {
  return reinterpret_cast<intptr_t>(p);
}

char *Call(int slot, intptr_t arg1, intptr_t arg2, intptr_t arg3, int32_t *status) {
  return s_operations[slot](arg1, arg2, arg3, status);
}

void Release(char *text) {
  if (text != nullptr) s_delete(text);
}

// A number as the host expects it: decimal text in a 16-byte buffer.
struct NumberText {
  char text[16];
  explicit NumberText(int32_t value) { std::snprintf(text, sizeof text, "%d", value); }
  intptr_t word() const { return Word(text); }
};

}  // namespace

void SetHostCallbacks(const XCallback *operations, XDeleteRoutine deleteRoutine) {
  s_operations = operations;
  s_delete = deleteRoutine;
}

char *retstr(char *text) {
  if (text == nullptr) return nullptr;
  char *copy = strdup(text);
  s_delete(text);
  return copy;
}

void SendCardMessage(const char *message, int32_t *status) {
  Release(Call(kXSlotSendCardMessage, Word(message), 0, 0, status));
}

char *EvalExpr(const char *expression, int32_t *status) {
  return retstr(Call(kXSlotEvalExpr, Word(expression), 0, 0, status));
}

char *GetGlobal(const char *name, int32_t *status) {
  return retstr(Call(kXSlotGetGlobal, Word(name), 0, 0, status));
}

void SetGlobal(const char *name, const char *value, int32_t *status) {
  Release(Call(kXSlotSetGlobal, Word(name), Word(value), 0, status));
}

char *GetFieldByName(const char *first, const char *second, int32_t *status) {
  return retstr(Call(kXSlotGetFieldByName, Word(first), Word(second), 0, status));
}

char *GetFieldByNum(const char *first, int32_t number, int32_t *status) {
  NumberText n(number);
  return retstr(Call(kXSlotGetFieldByNum, n.word(), Word(first), 0, status));
}

char *GetFieldById(const char *first, int32_t id, int32_t *status) {
  NumberText n(id);
  return retstr(Call(kXSlotGetFieldById, n.word(), Word(first), 0, status));
}

void SetFieldByName(const char *first, const char *second, const char *value, int32_t *status) {
  Release(Call(kXSlotSetFieldByName, Word(first), Word(second), Word(value), status));
}

void SetFieldByNum(const char *first, int32_t number, const char *value, int32_t *status) {
  NumberText n(number);
  Release(Call(kXSlotSetFieldByNum, n.word(), Word(first), Word(value), status));
}

void SetFieldById(const char *first, int32_t id, const char *value, int32_t *status) {
  NumberText n(id);
  Release(Call(kXSlotSetFieldById, n.word(), Word(first), Word(value), status));
}

void ShowImageByName(const char *first, const char *second, int32_t *status) {
  Release(Call(kXSlotShowImageByName, Word(first), Word(second), 0, status));
}

void ShowImageByNum(const char *first, int32_t number, int32_t *status) {
  NumberText n(number);
  Release(Call(kXSlotShowImageByNum, n.word(), Word(first), 0, status));
}

void ShowImageById(const char *first, int32_t id, int32_t *status) {
  NumberText n(id);
  Release(Call(kXSlotShowImageById, n.word(), Word(first), 0, status));
}

char *GetVariable(const char *name, int32_t *status) {
  return retstr(Call(kXSlotGetVariable, Word(name), 0, 0, status));
}

void SetVariable(const char *name, const char *value, int32_t *status) {
  Release(Call(kXSlotSetVariable, Word(name), Word(value), 0, status));
}

void GetVariableEx(const char *first, const char *second, char **valueOut, int32_t *status) {
  Release(Call(kXSlotGetVariableEx, Word(first), Word(second), Word(valueOut), status));
}

void SetVariableEx(const char *first, const char *second, const char *value, int32_t *status) {
  Release(Call(kXSlotSetVariableEx, Word(first), Word(second), Word(value), status));
}

void GetArray(const char *name, int32_t *countInOut, int32_t word2, int32_t word3, int32_t *status) {
  XArrayBlock block = {*countInOut, word2, word3};
  Release(Call(kXSlotGetArray, Word(name), 0, Word(&block), status));
  if (*status == 0) *countInOut = block.count;
}

void SetArray(const char *name, int32_t count, int32_t word2, int32_t word3, int32_t *status) {
  XArrayBlock block = {count, word2, word3};
  Release(Call(kXSlotSetArray, Word(name), 0, Word(&block), status));
}
