include(GoogleTest)

# Sanitizer builds live in build folders of their own (see .ci/run). ORLEA_SANITIZE is "address"
# (AddressSanitizer with UndefinedBehaviorSanitizer, every finding fatal) or "thread"; ORLEA_TESTS, a
# list of test programs, registers only those with CTest so that a build of just them runs whole.
set(ORLEA_SANITIZE "" CACHE STRING "Build with a sanitizer: address (with undefined) or thread")
set(ORLEA_TESTS "" CACHE STRING "The test programs registered with CTest (all when empty)")
if(ORLEA_SANITIZE)
  # GCC's instrumentation makes this one guess wrong about Qt's inline containers.
  add_compile_options(-Wno-maybe-uninitialized)
endif()
if(ORLEA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -O1)
  add_link_options(-fsanitize=address,undefined)
elseif(ORLEA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -O1)
  add_link_options(-fsanitize=thread)
elseif(ORLEA_SANITIZE)
  message(FATAL_ERROR "ORLEA_SANITIZE must be address or thread, not ${ORLEA_SANITIZE}")
endif()

# orlea_library(name SOURCES ... LIBS ...): a static library of one room.
function(orlea_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()

# orlea_test(name SOURCES ... LIBS ... [WIDGETS] [OWN_ALLOCATOR]): one GoogleTest executable of a room.
# OWN_ALLOCATOR: the program replaces malloc to count calls, which a sanitizer's allocator forbids.
function(orlea_test name)
  cmake_parse_arguments(ARG "WIDGETS;OWN_ALLOCATOR" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_WIDGETS)
    target_link_libraries(${name} PRIVATE orlea_test_main_widgets)
  else()
    target_link_libraries(${name} PRIVATE orlea_test_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  set_target_properties(${name} PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  if((ORLEA_TESTS AND NOT name IN_LIST ORLEA_TESTS) OR (ARG_OWN_ALLOCATOR AND ORLEA_SANITIZE))
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  # The test main sets QT_QPA_PLATFORM, ORLEA_SOURCE_DIR and ORLEA_BUILD_DIR when they are unset.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()

# orlea_benchmark(name SOURCES ... LIBS ...): a Google Benchmark program, run by `make bench`.
function(orlea_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  add_dependencies(benchmarks ${name})
endfunction()

