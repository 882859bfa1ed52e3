# The carbon layer's base managers: Resource Manager, bundles, File and Folder Managers,
# Alias Manager, Text Utilities, Text Encoding Converter, alerts, screens, ticks and Gestalt.
quillcast_carbon_library(carbon_base
  SOURCES
    src/CFBundle.cpp
    src/Dialogs.cpp
    src/Events.cpp
    src/Aliases.cpp
    src/Files.cpp
    src/Folders.cpp
    src/Gestalt.cpp
    src/Quickdraw.cpp
    src/ResourceFile.cpp
    src/Resources.cpp
    src/TextEncodingConverter.cpp
    src/TextUtils.cpp
  DEPS carbon_core ${CMAKE_DL_LIBS})
