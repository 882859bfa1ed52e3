/* The interface between a scripting host and the Quillcast external, for host authors.
 *
 * Loading. The host opens the bundle's shared object, Quillcast.bundle/Contents/MacOS/Quillcast,
 * and looks up the one exported symbol, getXtable (C linkage). It calls getXtable once,
 * before anything else, handing over its callback table and the routine that releases
 * strings the host allocated; it gets back the external's name, the external table and the
 * routine that releases the strings the external returns (the system's free).
 *
 * Words. Every word that holds a pointer is pointer-sized on this platform: a table entry is
 * five pointer-sized words, and the three arguments of a callback are intptr_t. Statuses and
 * counts are 32-bit.
 *
 * Calls. The host calls the handler of the table's entry ("QuillcastExternals") with the
 * script's arguments: a four-character selector, an optional text and an optional decimal
 * number, each a NUL-terminated string (an entry may be null). The handler stores a result
 * string in *result (null for an empty result) and sets *pass and *error to 0. A result is
 * the host's to release, with the free routine that getXtable returned. All calls come from
 * one thread, one at a time. Texts use LF line ends and Mac OS Roman characters; inside a
 * record the byte 0xFF separates fields.
 *
 * Callbacks. The external calls back into the host through the slots listed below, each
 * with three arguments and a status that the host sets. A callback returns a NUL-terminated
 * string that the host allocated, or null; the external releases every such string exactly
 * once, through the delete routine, and never keeps it. Unused arguments are 0.
 *
 * Errors. A failure the user must know of is shown as alert 32766, whose second parameter
 * (^1) is the status in decimal; with no display the alert is a line on standard error, and
 * with QUILLCAST_ALERT_LOG naming a file it is also appended there as a line of tab-separated
 * fields: 32766, then the context, the status, the message and the advice. That is how a host
 * tells a "Merg" whose client did not answer in time (-1712: the client may still queue that
 * message, and the merge's later "Merg" calls answer "false" until "Fnsh" or "Strt") from
 * one the client refused ("false" with no alert).
 */
#ifndef QUILLCAST_HOST_ABI_H
#define QUILLCAST_HOST_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A host callback: three arguments (texts are passed as their addresses) and the status. */
typedef char *(*XCallback)(intptr_t arg1, intptr_t arg2, intptr_t arg3, int32_t *status);
/* Releases a string that a callback returned. */
typedef void (*XDeleteRoutine)(char *text);
/* Releases a string that the external returned. */
typedef void (*XFreeRoutine)(void *text);
/* The handler of an external function. */
typedef void (*XHandler)(char **args, int32_t argCount, char **result, int32_t *pass, int32_t *error);

/* One entry of the external table: five pointer-sized words. The table ends with an entry
 * whose name and type are empty strings and whose other words are 0. */
typedef struct XTableEntry {
  const char *name;   /* the external function's name */
  const char *type;   /* "F": a function */
  intptr_t reserved1; /* 0 */
  XHandler handler;
  intptr_t reserved2; /* 0 */
} XTableEntry;

/* The callback slots the external calls (indexes into the host's table; the host's table
 * must have at least kXSlotCount entries; slots 0, 1, 2 and 4 are the host's own).
 * Arguments in order; "n" is a number passed as its decimal text; "value out" is a
 * char ** that the host fills. The last column says what happens to the returned string. */
enum {
  kXSlotSendCardMessage = 3,  /* message                       released            */
  kXSlotEvalExpr = 5,         /* expression                    copied and returned */
  kXSlotGetGlobal = 6,        /* name                          copied and returned */
  kXSlotSetGlobal = 7,        /* name, value                   released            */
  kXSlotGetFieldByName = 8,   /* first, second                 copied and returned */
  kXSlotGetFieldByNum = 9,    /* n, first                      copied and returned */
  kXSlotGetFieldById = 10,    /* id, first                     copied and returned */
  kXSlotSetFieldByName = 11,  /* first, second, value          released            */
  kXSlotSetFieldByNum = 12,   /* n, first, value               released            */
  kXSlotSetFieldById = 13,    /* id, first, value              released            */
  kXSlotShowImageByName = 14, /* first, second                 released            */
  kXSlotShowImageByNum = 15,  /* n, first                      released            */
  kXSlotShowImageById = 16,   /* id, first                     released            */
  kXSlotGetVariable = 17,     /* name                          copied and returned */
  kXSlotSetVariable = 18,     /* name, value                   released            */
  kXSlotGetVariableEx = 19,   /* first, second, value out      released            */
  kXSlotSetVariableEx = 20,   /* first, second, value          released            */
  kXSlotGetArray = 21,        /* name, 0, block {count, w2, w3} released; the host's
                                 count comes back when the status is 0 */
  kXSlotSetArray = 22,        /* name, 0, block {count, w2, w3} released            */
  kXSlotCount = 23
};

/* The array block of slots 21 and 22: three 32-bit words, passed through uninterpreted
 * except for the count. */
typedef struct XArrayBlock {
  int32_t count;
  int32_t word2;
  int32_t word3;
} XArrayBlock;

/* The one export of the bundle. */
typedef void (*XGetTableRoutine)(const XCallback *operations, XDeleteRoutine deleteRoutine,
                                 const char **nameOut, const XTableEntry **tableOut, XFreeRoutine *freeOut);

#ifdef __cplusplus
}
#endif

#endif /* QUILLCAST_HOST_ABI_H */
