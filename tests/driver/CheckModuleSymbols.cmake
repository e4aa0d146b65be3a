# Checks the built module's dynamic symbols: it exports only the factory, and it imports no allocator, no
# C++ runtime (exceptions, guarded statics) and runs no static constructor — what "no allocation, no
# exceptions, no constructors" means at link level.
# Usage: cmake -DNM=<nm> -DMODULE=<VelkaroAudio.so> -P CheckModuleSymbols.cmake
execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE defined RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot read the symbols of ${MODULE}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TDBRW] [^\n]+" exported "${defined}")
if(NOT exported MATCHES "^[0-9a-f]+ T VelkaroAudioFactory$")
  message(FATAL_ERROR "the module must export only VelkaroAudioFactory, found: ${exported}")
endif()
execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE imported)
foreach(forbidden malloc calloc realloc free aligned_alloc posix_memalign _Znw _Zna _Zdl _Zda __cxa_throw
        __cxa_allocate_exception __cxa_guard_acquire __cxa_atexit _ZSt)
  if(imported MATCHES "[ \n]${forbidden}")
    message(FATAL_ERROR "the module imports ${forbidden}:\n${imported}")
  endif()
endforeach()
# Static constructors show up as _GLOBAL__sub_I_* in the full symbol table (when it is not stripped).
execute_process(COMMAND ${NM} ${MODULE} OUTPUT_VARIABLE all ERROR_QUIET)
if(all MATCHES "_GLOBAL__sub_I")
  message(FATAL_ERROR "the module runs static constructors when it is loaded")
endif()
message(STATUS "VelkaroAudio exports only its factory and imports no allocator")
