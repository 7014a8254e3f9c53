# Sourced by the build and test scripts: the private Wine prefix of one build
# tree. Usage: . scripts/wine-env.sh BUILD_DIR
# A tree of 32-bit DLLs (build/x86) gets a 32-bit prefix, where the 32-bit
# regsvr32 and cscript load them; its CMake configure writes "win32" into
# BUILD_DIR/wine-arch.
_qk_build=$(cd "${1:-build}" && pwd)
export WINEPREFIX="$_qk_build/wine"
WINEARCH=$(cat "$_qk_build/wine-arch" 2>/dev/null || echo win64)
export WINEARCH
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's path for a Linux path, e.g. Z:\work\main\build\bin\Quillnet.dll
winpath() { printf 'Z:%s' "$(readlink -m "$1" | tr / '\\')"; }
CSCRIPT='C:\windows\system32\cscript.exe'
