# Helpers shared by every folder's CMakeLists.txt.

# A module of the plug-in or of the carbon layer: a static library whose headers are
# included by folder from the repository root ("store/RecordStore.h") and, for the carbon
# layer, by manager name (<MacMemory.h>).
function(quillcast_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/carbon/include)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A GoogleTest executable registered with CTest.
function(quillcast_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/carbon/include)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  # The folders reach the tests as compile definitions, and the build folder also through the
  # environment, for the processes that the tests start.
  target_compile_definitions(${name} PRIVATE QUILLCAST_SOURCE_DIR_PATH="${PROJECT_SOURCE_DIR}"
                                             QUILLCAST_BUILD_DIR_PATH="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QUILLCAST_BUILD_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# A fuzz target: LLVMFuzzerTestOneInput in SOURCE. It is always built with a standalone
# driver that replays its corpus in the ordinary test run; with QUILLCAST_FUZZ (clang) it is
# also built as a libFuzzer binary, fuzz_<name>.
function(quillcast_fuzz name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBS" ${ARGN})
  add_executable(replay_${name} ${ARG_SOURCE} ${PROJECT_SOURCE_DIR}/fuzz/standalone_driver.cpp)
  target_include_directories(replay_${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/carbon/include)
  target_link_libraries(replay_${name} PRIVATE ${ARG_LIBS})
  add_test(NAME fuzz_replay_${name} COMMAND replay_${name} ${ARG_CORPUS})
  if(QUILLCAST_FUZZ)
    add_executable(fuzz_${name} ${ARG_SOURCE})
    target_include_directories(fuzz_${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/carbon/include)
    target_link_libraries(fuzz_${name} PRIVATE ${ARG_LIBS})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()

if(QUILLCAST_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A module of the plug-in: a static library that is also linked into the bundle.
function(quillcast_plugin_library name)
  quillcast_library(${name} ${ARGN})
  set_property(GLOBAL APPEND PROPERTY QUILLCAST_PLUGIN_LIBS ${name})
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt.
function(quillcast_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
