// Apple Event Manager, events: creating Apple Events, their parameters and attributes, and
// sending them to another process with AESend. The caller owns the event and the reply
// that AESend fills, and disposes both with AEDisposeDesc.
//
// An event is a record of parameters: the list and record calls see its parameters only
// (AECountItems counts them), and the Param calls work on any record. Attributes are reached
// only through the Attribute calls, which answer errAENotAppleEvent for anything else.
// AECreateAppleEvent sets 'evcl', 'evid' (typeType), 'addr' (a copy of the target; the null
// descriptor for a null target), 'rtid' (typeSInt16; kAutoGenerateReturnID takes a new one,
// unique within this process and never 0 or -1) and 'tran' (typeSInt32). Any other attribute
// is present only once someone puts it; a missing one answers errAEDescNotFound.
#pragma once

#include "AEDataModel.h"

typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef int16_t AEReturnID;
typedef int32_t AETransactionID;
typedef int32_t AESendMode;
typedef int16_t AESendPriority;
typedef void *AEIdleUPP;    // not called: this layer has no event loop to run while waiting
typedef void *AEFilterUPP;  // not called

enum : AESendMode {
  kAENoReply = 0x00000001,
  kAEQueueReply = 0x00000002,
  kAEWaitReply = 0x00000003,
  kAENeverInteract = 0x00000010,
  kAECanInteract = 0x00000020,
  kAEAlwaysInteract = 0x00000030,
  kAECanSwitchLayer = 0x00000040,
  kAEDontReconnect = 0x00000080,
  kAEWantReceipt = 0x00000200,
  kAEDontRecord = 0x00001000,
  kAEDontExecute = 0x00002000,
  kAEProcessNonReplyEvents = 0x00008000,
};

enum { kAENormalPriority = 0, kAEHighPriority = 1 };
enum { kAutoGenerateReturnID = -1, kAnyTransactionID = 0 };
enum { kAEDefaultTimeout = -1, kNoTimeOut = -2 };

// Values of keyEventSourceAttr ('shor').
enum {
  kAEUnknownSource = 0,
  kAEDirectCall = 1,
  kAESameProcess = 2,
  kAELocalProcess = 3,
  kAERemoteProcess = 4
};

enum : AEKeyword {
  keyDirectObject = FourCC("----"),
  keyAEResult = FourCC("----"),
  keyErrorNumber = FourCC("errn"),
  keyErrorString = FourCC("errs"),
  keyAEData = FourCC("data"),
  keyAEInsertHere = FourCC("insh"),
  keyAEObjectClass = FourCC("kocl"),
  keyAEPropData = FourCC("prdt"),
  keyAEObject = FourCC("kobj"),
  keyAEPosition = FourCC("kpos"),
  keyAEDesiredClass = FourCC("want"),
  keyAEKeyForm = FourCC("form"),
  keyAEKeyData = FourCC("seld"),
  keyAEContainer = FourCC("from"),
  // attributes
  keyTransactionIDAttr = FourCC("tran"),
  keyReturnIDAttr = FourCC("rtid"),
  keyEventClassAttr = FourCC("evcl"),
  keyEventIDAttr = FourCC("evid"),
  keyAddressAttr = FourCC("addr"),
  keyOptionalKeywordAttr = FourCC("optk"),
  keyTimeoutAttr = FourCC("timo"),
  keyInteractLevelAttr = FourCC("inte"),
  keyEventSourceAttr = FourCC("esrc"),
  keyMissedKeywordAttr = FourCC("miss"),
  keyOriginalAddressAttr = FourCC("from"),
  keyAcceptTimeoutAttr = FourCC("actm"),
  keyReplyRequestedAttr = FourCC("repq"),
};

enum : FourCharCode {
  kCoreEventClass = FourCC("aevt"),
  kAEOpenApplication = FourCC("oapp"),
  kAEOpenDocuments = FourCC("odoc"),
  kAEQuitApplication = FourCC("quit"),
  kAEAnswer = FourCC("ansr"),
  kAECoreSuite = FourCC("core"),
  kAECreateElement = FourCC("crel"),
  kAEGetData = FourCC("getd"),
  kAESetData = FourCC("setd"),
  formAbsolutePosition = FourCC("indx"),
  formPropertyID = FourCC("prop"),
  formName = FourCC("name"),
  formUniqueID = FourCC("ID  "),
  kAEAll = FourCC("all "),
  kAEEnd = FourCC("end "),
  kAEAfter = FourCC("afte"),
  pName = FourCC("pnam"),
};

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc *target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent *result);
OSErr AEPutParamPtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode, const void *dataPtr,
                    Size dataSize);
OSErr AEPutParamDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEGetParamPtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType *actualType, void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetParamDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                     AEDesc *result);
OSErr AESizeOfParam(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType *typeCode,
                    Size *dataSize);
OSErr AEDeleteParam(AppleEvent *theAppleEvent, AEKeyword theAEKeyword);
OSErr AEPutAttributePtr(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType typeCode,
                        const void *dataPtr, Size dataSize);
OSErr AEPutAttributeDesc(AppleEvent *theAppleEvent, AEKeyword theAEKeyword, const AEDesc *theAEDesc);
OSErr AEGetAttributePtr(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType *typeCode, void *dataPtr, Size maximumSize, Size *actualSize);
OSErr AEGetAttributeDesc(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                         AEDesc *result);
OSErr AESizeOfAttribute(const AppleEvent *theAppleEvent, AEKeyword theAEKeyword, DescType *typeCode,
                        Size *dataSize);

// Sends the event to the process its address attribute names ('psn ' or 'kpid'). With
// kAEWaitReply it waits up to timeOutInTicks (60 per second; kAEDefaultTimeout is one
// minute, kNoTimeOut forever) and fills reply with the 'aevt'/'ansr' event that came back;
// with kAENoReply, reply is the null descriptor, and it waits as long for the application's
// receipt that it has handled the event (what the handler did is not reported). So noErr
// always means the application has the event; errAETimeout means it may still handle it.
// With QUILLCAST_AE_TRACE set to a file, every event sent and every reply received is
// appended there in AEPrint form.
OSErr AESend(const AppleEvent *theAppleEvent, AppleEvent *reply, AESendMode sendMode,
             AESendPriority sendPriority, long timeOutInTicks, AEIdleUPP idleProc, AEFilterUPP filterProc);
