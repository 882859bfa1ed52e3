# The Apple Event Manager's data model: descriptors, lists, records, events, coercion, the
# flattened form, AEPrint and the system's AEStream calls. AESend lives with the Process Manager.
quillcast_carbon_library(carbon_ae
  SOURCES
    src/AEStorage.cpp
    src/AEDescriptors.cpp
    src/AEEvents.cpp
    src/AEText.cpp
    src/AECoercion.cpp
    src/AEFlatten.cpp
    src/AEPrint.cpp
    src/AESystemStream.cpp
  DEPS carbon_core)
