# Cross toolchain: 32-bit Windows DLLs (for application pools that run in
# 32-bit mode) built on Linux with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# SSE2 is the floor: every processor that runs a supported 32-bit Windows has
# it, so the byte searches keep their vector loops; anything newer is chosen
# at run time, as in the 64-bit build. Doubles are computed in SSE registers,
# as on x64, so both builds round every result the same way (x87's 80-bit
# intermediates would not). GCC realigns the stack where SSE needs it, since
# Windows only promises 4-byte alignment to 32-bit callees.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# The .def files name the entry points undecorated, as Windows looks them up;
# on 32-bit the stdcall symbols behind them are DllCanUnloadNow@0 and so on,
# which the linker matches to those names.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--enable-stdcall-fixup")
