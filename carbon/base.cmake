# The carbon layer's base managers: Resource Manager, bundles, File and Folder Managers,
# Alias Manager, Text Utilities, Text Encoding Converter, the Dialog, Window, Control and Event
# Managers, QuickDraw, ticks and Gestalt. Windows, drawing and events go to an X display
# through libX11, which is loaded at run time: only its headers are needed to build.
find_package(X11 REQUIRED)
quillcast_carbon_library(carbon_base
  SOURCES
    src/Aliases.cpp
    src/CFBundle.cpp
    src/Controls.cpp
    src/DialogWindows.cpp
    src/Dialogs.cpp
    src/Events.cpp
    src/Files.cpp
    src/Folders.cpp
    src/Gestalt.cpp
    src/Quickdraw.cpp
    src/QuickdrawDrawing.cpp
    src/ResourceFile.cpp
    src/Resources.cpp
    src/TextEncodingConverter.cpp
    src/TextUtils.cpp
    src/WindowServer.cpp
    src/Windows.cpp
  DEPS carbon_core ${CMAKE_DL_LIBS})
target_include_directories(carbon_base PRIVATE ${X11_INCLUDE_DIR})
