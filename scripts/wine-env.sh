# Sourced by the build and test scripts: the private Wine prefix of one build
# tree. Usage: . scripts/wine-env.sh BUILD_DIR
_qk_build=$(cd "${1:-build}" && pwd)
export WINEPREFIX="$_qk_build/wine"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's path for a Linux path, e.g. Z:\work\main\build\bin\Quillnet.dll
winpath() { printf 'Z:%s' "$(readlink -m "$1" | tr / '\\')"; }
CSCRIPT='C:\windows\system32\cscript.exe'
