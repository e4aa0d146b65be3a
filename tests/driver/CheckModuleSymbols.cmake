# Checks the built module's dynamic symbols: it exports only the factory, and it imports no allocator, no
# C++ runtime (exceptions, guarded statics) — what "no allocation, no exceptions" means at link level.
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
message(STATUS "VelkaroAudio exports only its factory and imports no allocator")
