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
# a kernel without 32-bit support; the 64-bit loader in turn cannot run a
# 32-bit prefix. So each tree names its own loader: a `wine` of the build
# tree's own comes first on PATH and runs the loader of the tree's prefix.
case $WINEARCH in
win32) _qk_loader=/usr/lib/wine/wine ;;
*) _qk_loader=/usr/lib/wine/wine64 ;;
esac
if [ -x "$_qk_loader" ]; then
    _qk_bin="$_qk_build/wine-bin"
    _qk_wrapper=$(printf '#!/bin/sh\nexec %s "$@"\n' "$_qk_loader")
    # Written again whenever it names another loader (a tree made by an
    # older script, or a prefix whose architecture changed).
    if [ "$(cat "$_qk_bin/wine" 2>/dev/null)" != "$_qk_wrapper" ]; then
        mkdir -p "$_qk_bin"
        printf '%s\n' "$_qk_wrapper" >"$_qk_bin/wine.new" && chmod 755 "$_qk_bin/wine.new" &&
            mv -f "$_qk_bin/wine.new" "$_qk_bin/wine"
    fi
    case ":$PATH:" in *":$_qk_bin:"*) ;; *) export PATH="$_qk_bin:$PATH" ;; esac
    export WINELOADER=$_qk_loader
fi
# Wine's path for a Linux path, e.g. Z:\work\main\build\bin\Quillnet.dll
winpath() { printf 'Z:%s' "$(readlink -m "$1" | tr / '\\')"; }
CSCRIPT='C:\windows\system32\cscript.exe'
