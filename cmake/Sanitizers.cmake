# Sanitizer builds: VALMORA_SANITIZE for the unit and gateway tests (ASan + UBSan),
# VALMORA_TSAN for the tests that start threads (ThreadSanitizer), VALMORA_FUZZ for the
# libFuzzer targets (clang only).
option(VALMORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VALMORA_TSAN "Build with ThreadSanitizer" OFF)
option(VALMORA_FUZZ "Build the libFuzzer targets instead of the module (clang)" OFF)

if(VALMORA_TSAN AND (VALMORA_SANITIZE OR VALMORA_FUZZ))
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
endif()
if(VALMORA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(VALMORA_SANITIZE OR VALMORA_FUZZ)
  set(valmora_sanitizers "address,undefined")
  add_compile_options(-fsanitize=${valmora_sanitizers} -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${valmora_sanitizers})
endif()

if(VALMORA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VALMORA_FUZZ needs clang: -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
