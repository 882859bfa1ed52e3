# The carbon layer's Process Manager, AESend between processes, Launch Services with the
# desktop database, and Internet Config.
find_package(Threads REQUIRED)
set(proc_deps carbon_core Threads::Threads)
foreach(group ae base)
  if(TARGET carbon_${group})
    list(APPEND proc_deps carbon_${group})
  endif()
endforeach()
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
  DEPS ${proc_deps})
