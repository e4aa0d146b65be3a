include(GoogleTest)

# orlea_library(name SOURCES ... LIBS ...): a static library of one room.
function(orlea_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()

# orlea_test(name SOURCES ... LIBS ... [WIDGETS]): one GoogleTest executable of a room.
function(orlea_test name)
  cmake_parse_arguments(ARG "WIDGETS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
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
