# Cross toolchain for the Windows x64 build: Debian's mingw-w64 with POSIX threads
# (std::thread and std::mutex need them), everything linked statically so that the
# executables import Windows' own DLLs only.
#
# Pass the dependency prefix printed by scripts/windows-deps as CMAKE_PREFIX_PATH
# (or CMAKE_FIND_ROOT_PATH):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=<prefix> ...

set(CMAKE_SYSTEM_NAME Windows)
# "x86_64", not "AMD64": libpng and libjpeg-turbo pick their SIMD code by this name.
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VALMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VALMORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VALMORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VALMORA_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VALMORA_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VALMORA_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Search the target's sysroot and the dependency prefix only, never the Linux host.
# A prefix is searched as given only when it lies inside a root, hence the append.
set(_valmora_roots /usr/${VALMORA_MINGW_TRIPLE})
foreach(_p IN LISTS CMAKE_FIND_ROOT_PATH CMAKE_PREFIX_PATH)
  list(APPEND _valmora_roots "${_p}")
endforeach()
list(REMOVE_DUPLICATES _valmora_roots)
set(CMAKE_FIND_ROOT_PATH ${_valmora_roots})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must not report the host's .pc files either.
set(_valmora_pc "")
foreach(_p IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND _valmora_pc "${_p}/lib/pkgconfig" "${_p}/share/pkgconfig")
endforeach()
if(NOT _valmora_pc)
  set(_valmora_pc "/usr/${VALMORA_MINGW_TRIPLE}/lib/pkgconfig")
endif()
string(REPLACE ";" ":" _valmora_pc "${_valmora_pc}")
set(ENV{PKG_CONFIG_LIBDIR} "${_valmora_pc}")
set(ENV{PKG_CONFIG_PATH} "")

# -static also pulls in libgcc, libstdc++ and winpthread, so no MinGW DLL ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
