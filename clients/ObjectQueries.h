// Object-model queries: one get-data event to an email client, waiting for the reply, and
// the reply's direct parameter handed to the caller.
//
// Ownership: *result is the caller's descriptor; on success it receives a new descriptor
// that the caller disposes. On failure it is untouched. Everything else (event, reply) is
// disposed inside the call.
#pragma once

#include <AEDataModel.h>
#include <MacTypes.h>
#include <Processes.h>

// The property `property` of the object of class objectClass named by the nameLength bytes
// at name, coerced to desiredType ('****' takes the client's descriptor as it comes).
// errAEDescNotFound when the reply has no direct parameter.
SInt32 GetPropertyOfNamedObject(const ProcessSerialNumber *process, AEDesc *result, DescType property,
                                DescType desiredType, DescType objectClass, const void *name,
                                UInt32 nameLength);

// The property `property` of the objects of class objectClass picked by a selector of type
// selectorType holding the four bytes of selectorData ('abso'/'all ' for every object,
// 'long'/n for the n-th counting from 1), as the client gives it. A reply with no direct
// parameter yields an empty list and success.
SInt32 GetPropertiesOfIndexedObjects(const ProcessSerialNumber *process, AEDesc *result, DescType property,
                                     DescType objectClass, DescType selectorType, UInt32 selectorData);
