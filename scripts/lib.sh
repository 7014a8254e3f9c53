# Shared by the setup, build, test and demo commands.
# ensure_packages PKG...: installs with apt whatever Debian package is missing.
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -z "${QK_APT_UPDATED:-}" ]; then
        apt-get update -qq || return 1
        export QK_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

# What building the two DLLs and their tests needs.
BUILD_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    libwine-dev wine wine64 googletest)

# What the tests and benchmarks need beyond the build (servers started on
# 127.0.0.1, tools they compare against): one list per area in
# scripts/test-packages/*.txt, one Debian package per line.
TEST_PACKAGES=(python3)
for _list in "$(dirname "${BASH_SOURCE[0]}")"/test-packages/*.txt; do
    [ -f "$_list" ] || continue
    while read -r _pkg; do
        case "$_pkg" in ''|'#'*) ;; *) TEST_PACKAGES+=("$_pkg") ;; esac
    done <"$_list"
done

QK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QK_BUILD=${QK_BUILD:-$QK_ROOT/build}
