# Cross toolchain: 32-bit Windows DLLs (for application pools that run in
# 32-bit mode) built on Linux with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# SSE2 is all the 32-bit build uses: every processor that runs a supported
# 32-bit Windows has it, so the byte searches and the yEnc loop keep their
# vector code; the SSSE3 decoders and the PCLMUL checksum, which the 64-bit
# build picks by processor at run time, stay x64-only (tables here). Doubles are computed in SSE registers,
# as on x64, so both builds round every result the same way (x87's 80-bit
# intermediates would not). GCC realigns the stack where SSE needs it, since
# Windows only promises 4-byte alignment to 32-bit callees.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# The .def files name the entry points undecorated, as Windows looks them up;
# on 32-bit the stdcall symbols behind them are DllCanUnloadNow@0 and so on,
# which the linker matches to those names.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--enable-stdcall-fixup")
