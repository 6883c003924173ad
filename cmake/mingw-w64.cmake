# Cross build for 64-bit Windows with Debian's mingw-w64, posix thread model
# (the win32 model lacks std::thread and std::mutex). Programs and tests are
# linked statically, so they run under Wine or on Windows without the
# compiler's DLLs; ctest runs the tests through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVIX_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${QUORVIX_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORVIX_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUORVIX_MINGW_TRIPLE}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The header-only libraries of the host serve the cross build through
# package files of our own, which put only each library's own headers on the
# include path (never the host's /usr/include with its C library).
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross CACHE PATH "")
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross CACHE PATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the cross-built tests. "wine" picks the 64-bit loader itself.
find_program(QUORVIX_WINE NAMES wine wine64 HINTS /usr/lib/wine)
if(QUORVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVIX_WINE})
endif()
