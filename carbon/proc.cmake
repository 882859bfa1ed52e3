# The carbon layer's Process Manager, AESend between processes, Launch Services with the
# desktop database, and Internet Config.
find_package(Threads REQUIRED)
quillcast_library(carbon_proc
  SOURCES
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
