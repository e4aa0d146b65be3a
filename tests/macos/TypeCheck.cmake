# cmake -DSETTINGS=TypeCheckSettings.cmake -P TypeCheck.cmake
# Compiles each macOS source with clang -fsyntax-only as a Mac would (ORLEA_APPLE_SDK), with the SDK
# declarations first on the include path; Objective-C++ for .mm files. Warnings are errors.
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})

# The libraries' folders come after ours and the SDK's; the compiler's own system folders stay where the
# compiler puts them.
set(includes -I${SOURCE_DIR} -isystem ${SDK_CHECK})
list(REMOVE_DUPLICATES INCLUDES)
list(REMOVE_ITEM INCLUDES ${SOURCE_DIR} /usr/include /usr/local/include /usr/include/x86_64-linux-gnu)
foreach(folder ${INCLUDES})
  list(APPEND includes -isystem ${folder})
endforeach()
set(definitions -DORLEA_APPLE_SDK=1)
foreach(definition ${DEFINITIONS})
  list(APPEND definitions -D${definition})
endforeach()
# AppModel::event, the session log's name, hides QObject::event: clang says so, gcc does not.
set(common -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Wno-overloaded-virtual -fPIC ${definitions}
  ${includes})

set(failures 0)
set(checked 0)
foreach(source ${SOURCES} ${DRIVER_SOURCES})
  set(flags ${common})
  if(source MATCHES "\\.mm$")
    list(APPEND flags -x objective-c++ -fobjc-runtime=macosx-14.0 -fobjc-arc -fblocks)
  endif()
  if(source IN_LIST DRIVER_SOURCES)
    list(APPEND flags -fno-exceptions -fno-rtti)
  endif()
  execute_process(COMMAND ${CLANGXX} ${flags} ${source} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  math(EXPR checked "${checked} + 1")
  if(NOT status EQUAL 0)
    math(EXPR failures "${failures} + 1")
    message("${source} does not compile against the SDK declarations:\n${output}")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${checked} macOS sources failed the type-check")
endif()
message(STATUS "${checked} macOS sources type-check against the SDK declarations")
