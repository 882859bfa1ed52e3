# How every target of the project is declared. The layers are kept apart here, not by habit:
# a target sees the headers of the libraries it links and nothing else.
#
# - The carbon layer's libraries (quillcast_carbon_library) show the managers' headers in
#   carbon/include (<MacMemory.h>); carbon/src is theirs alone.
# - Every other library (quillcast_library, quillcast_plugin_library) shows the folder it
#   lives in under its name from the repository root ("store/RecordStore.h") to the targets
#   that link it, and nothing more: each such library has a folder of its own in the build
#   tree, include/<library>, holding one link named like its source folder.
# - Tests, fuzz targets and benchmarks see the libraries they link, and the test helpers in
#   tests/ ("tests/support/PluginResources.h"). Only the carbon layer's own tests and fuzz
#   targets may ask for carbon/src (CARBON_INTERNALS).

# Makes the folder of the current CMakeLists.txt visible, by its path from the repository
# root, to target and (scope PUBLIC or INTERFACE) to whatever links it.
function(quillcast_show_folder target scope)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  quillcast_link_folder(${PROJECT_BINARY_DIR}/include/${target} ${folder})
  target_include_directories(${target} ${scope} ${PROJECT_BINARY_DIR}/include/${target})
endfunction()

# root/folder becomes a link to the source folder of that name. The root is made afresh, so
# that a link left by an earlier layout (a folder that has since moved) is never written
# through.
function(quillcast_link_folder root folder)
  file(REMOVE_RECURSE ${root})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
endfunction()

function(quillcast_hide_symbols target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A library of the carbon layer (from carbon/CMakeLists.txt and carbon/*.cmake).
function(quillcast_carbon_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/carbon/include
                                     PRIVATE ${PROJECT_SOURCE_DIR}/carbon/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  quillcast_hide_symbols(${name})
endfunction()

# A library outside the carbon layer: the stand-ins' kit and mail store, the host's parts.
function(quillcast_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  quillcast_show_folder(${name} PUBLIC)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  quillcast_hide_symbols(${name})
endfunction()

# A module of the plug-in, linked into the bundle through the modules that use it. It may use
# only the carbon layer and modules of the plug-in declared before it, so the modules form no
# circle and the plug-in reaches nothing outside itself but the carbon layer.
function(quillcast_plugin_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  foreach(dep ${ARG_DEPS})
    if(dep MATCHES "^carbon(_[a-z]+)?$")
      continue()
    endif()
    if(TARGET ${dep})
      get_target_property(module ${dep} QUILLCAST_PLUGIN_MODULE)
    endif()
    if(NOT TARGET ${dep} OR NOT module)
      message(FATAL_ERROR "${name} uses ${dep}, which is not the carbon layer or a module of the plug-in declared "
                          "before it")
    endif()
  endforeach()
  quillcast_library(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES QUILLCAST_PLUGIN_MODULE TRUE)
endfunction()

# A stand-in application: an executable on the stand-in kit, written to apps/bin under
# OUTPUT_NAME, where the host finds and installs it.
function(quillcast_standin target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE standin_kit ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${ARG_OUTPUT_NAME}"
                                             RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/apps/bin)
endfunction()

# Test helpers and white-box access, shared by tests, fuzz targets and benchmarks.
add_library(quillcast_test_helpers INTERFACE)
quillcast_link_folder(${PROJECT_BINARY_DIR}/include/quillcast_test_helpers tests)
target_include_directories(quillcast_test_helpers INTERFACE ${PROJECT_BINARY_DIR}/include/quillcast_test_helpers)

function(quillcast_carbon_internals target)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT folder MATCHES "^(tests|fuzz|bench)/(carbon_[a-z]+|resources)$")
    message(FATAL_ERROR "${target} in ${folder}: only the carbon layer's own tests see carbon/src")
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/carbon/src)
endfunction()

add_custom_target(quillcast_threads_tests)

# A GoogleTest executable registered with CTest. THREADS marks tests of code that runs threads
# or other processes (label "threads"): the ThreadSanitizer build runs those.
function(quillcast_test name)
  cmake_parse_arguments(ARG "CARBON_INTERNALS;THREADS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quillcast_test_helpers GTest::gtest GTest::gtest_main)
  if(ARG_CARBON_INTERNALS)
    quillcast_carbon_internals(${name})
  endif()
  # The folders reach the tests as compile definitions, and the build folder also through the
  # environment, for the processes that the tests start.
  target_compile_definitions(${name} PRIVATE QUILLCAST_SOURCE_DIR_PATH="${PROJECT_SOURCE_DIR}"
                                             QUILLCAST_BUILD_DIR_PATH="${PROJECT_BINARY_DIR}")
  set(labels)
  if(ARG_THREADS)
    set(labels LABELS threads)
    add_dependencies(quillcast_threads_tests ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QUILLCAST_BUILD_DIR=${PROJECT_BINARY_DIR}" ${labels})
endfunction()

# A fuzz target: LLVMFuzzerTestOneInput in SOURCE. It is always built with a standalone
# driver that replays its corpus in the ordinary test run; with QUILLCAST_FUZZ (clang) it is
# also built as a libFuzzer binary, fuzz_<name>, and listed with its path, its corpus and its
# longest input (MAX_LEN, 4096 bytes unless given) in fuzz-targets.txt for scripts/fuzz.sh.
function(quillcast_fuzz name)
  cmake_parse_arguments(ARG "CARBON_INTERNALS" "SOURCE;CORPUS;MAX_LEN" "LIBS" ${ARGN})
  if(NOT ARG_MAX_LEN)
    set(ARG_MAX_LEN 4096)
  endif()
  set(targets replay_${name})
  add_executable(replay_${name} ${ARG_SOURCE} ${PROJECT_SOURCE_DIR}/fuzz/standalone_driver.cpp)
  add_test(NAME fuzz_replay_${name} COMMAND replay_${name} ${ARG_CORPUS})
  if(QUILLCAST_FUZZ)
    add_executable(fuzz_${name} ${ARG_SOURCE})
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    list(APPEND targets fuzz_${name})
    set_property(GLOBAL APPEND PROPERTY QUILLCAST_FUZZ_TARGETS
      "${name} ${ARG_MAX_LEN} ${CMAKE_CURRENT_BINARY_DIR}/fuzz_${name} ${ARG_CORPUS}")
  endif()
  foreach(target ${targets})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} quillcast_test_helpers)
    if(ARG_CARBON_INTERNALS)
      quillcast_carbon_internals(${target})
    endif()
  endforeach()
endfunction()

if(QUILLCAST_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# A Google Benchmark executable. With TEST it also runs in the test suite (label bench, one at
# a time), under that test name.
function(quillcast_benchmark name)
  cmake_parse_arguments(ARG "" "TEST" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quillcast_test_helpers benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE QUILLCAST_BUILD_DIR_PATH="${PROJECT_BINARY_DIR}")
  if(ARG_TEST)
    add_test(NAME ${ARG_TEST} COMMAND ${name})
    set_tests_properties(${ARG_TEST} PROPERTIES RUN_SERIAL TRUE LABELS bench
      ENVIRONMENT "QUILLCAST_BUILD_DIR=${PROJECT_BINARY_DIR}")
  endif()
endfunction()
