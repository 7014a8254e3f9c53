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
# Debian's /usr/bin/wine takes the 32-bit loader whenever wine32 is
# installed, even for a 64-bit prefix, and that loader cannot start at all on
# a kernel without 32-bit support. A 64-bit prefix is always run by the
# 64-bit loader: a `wine` of the build tree's own comes first on PATH.
if [ -x /usr/lib/wine/wine64 ]; then
    _qk_bin="$_qk_build/wine-bin"
    if [ ! -x "$_qk_bin/wine" ]; then
        mkdir -p "$_qk_bin"
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$_qk_bin/wine"
        chmod 755 "$_qk_bin/wine"
    fi
    case ":$PATH:" in *":$_qk_bin:"*) ;; *) export PATH="$_qk_bin:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
fi
# Wine's path for a Linux path, e.g. Z:\work\main\build\bin\Quillnet.dll
winpath() { printf 'Z:%s' "$(readlink -m "$1" | tr / '\\')"; }
CSCRIPT='C:\windows\system32\cscript.exe'
