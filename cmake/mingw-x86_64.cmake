# The test flavour: the same sources as 64-bit Windows programs, which wine64
# starts at native speed on machines that can only emulate 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
