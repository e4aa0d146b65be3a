include(GoogleTest)

# Sanitizer builds live in build folders of their own (see .ci/run). ORLEA_SANITIZE is "address"
# (AddressSanitizer with UndefinedBehaviorSanitizer, every finding fatal) or "thread"; ORLEA_TESTS, a
# list of test programs, registers only those with CTest so that a build of just them runs whole.
set(ORLEA_SANITIZE "" CACHE STRING "Build with a sanitizer: address (with undefined) or thread")
set(ORLEA_TESTS "" CACHE STRING "The test programs registered with CTest (all when empty)")
if(ORLEA_SANITIZE)
  # Line tables are all a report needs, and much quicker to build than full debug information. GCC's
  # instrumentation makes -Wmaybe-uninitialized guess wrong about Qt's inline containers.
  add_compile_options(-g1 -Wno-maybe-uninitialized)
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

# The macOS icon file of Orlea and of its driver bundle, made by tools/make-icns (target OrleaAppIcon).
set(ORLEA_APP_ICON ${CMAKE_BINARY_DIR}/icons/AppIcon.icns)

# orlea_fuzzer(name TEST test MAIN file SOURCES ... QT component ... SEEDS folder): a libFuzzer program with
# AddressSanitizer and UndefinedBehaviorSanitizer. libFuzzer needs clang, so clang++ builds it directly,
# whatever compiler builds the rest. CTest runs it for 25 s from the committed seeds; what it learns
# goes to a corpus in the build folder, never into the source tree.
find_program(ORLEA_CLANGXX NAMES clang++ clang++-14)
function(orlea_fuzzer name)
  cmake_parse_arguments(ARG "" "TEST;MAIN;SEEDS" "SOURCES;QT" ${ARGN})
  if(NOT ORLEA_CLANGXX OR ORLEA_SANITIZE)
    return()
  endif()
  set(program ${CMAKE_BINARY_DIR}/tests/${name})
  set(includes -I${CMAKE_SOURCE_DIR})
  set(libraries)
  foreach(component ${ARG_QT})
    list(APPEND includes
         "-I$<JOIN:$<TARGET_PROPERTY:Qt6::${component},INTERFACE_INCLUDE_DIRECTORIES>,$<SEMICOLON>-I>")
    list(APPEND libraries $<TARGET_FILE:Qt6::${component}>)
  endforeach()
  list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
  add_custom_command(OUTPUT ${program}
    COMMAND ${ORLEA_CLANGXX} -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined ${includes} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MAIN}
            ${ARG_SOURCES} ${libraries} -lpthread -o ${program}
    DEPENDS ${ARG_MAIN} ${ARG_SOURCES}
    COMMAND_EXPAND_LISTS VERBATIM
    COMMENT "Building the fuzzer ${name} with clang")
  add_custom_target(${name} ALL DEPENDS ${program})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${ARG_TEST}
    COMMAND ${program} -max_total_time=25 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
            -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/ ${corpus} ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_SEEDS})
  set_tests_properties(${ARG_TEST} PROPERTIES TIMEOUT 120)
endfunction()
