# The carbon layer's Process Manager, AESend between processes, Launch Services with the
# desktop database, Internet Config, and the receiving end of Apple Events (AEReceiver.h).
find_package(Threads REQUIRED)
quillcast_carbon_library(carbon_proc
  SOURCES
    src/AEReceiver.cpp
    src/AESend.cpp
    src/AETrace.cpp
    src/AEWire.cpp
    src/DesktopDatabase.cpp
    src/InternetConfig.cpp
    src/Launch.cpp
    src/LaunchServices.cpp
    src/ProcTime.cpp
    src/ProcessTable.cpp
    src/Processes.cpp
  DEPS carbon_core carbon_ae carbon_base Threads::Threads)
