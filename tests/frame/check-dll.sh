#!/bin/bash
# Checks each DLL's export table (the four entry points, nothing else) and its
# import table (Windows system DLLs only: no libstdc++, libgcc or winpthread).
set -u
objdump=$1; shift
status=0
allowed='^(kernel32|advapi32|ole32|oleaut32|user32|gdi32|msvcrt|ws2_32|winhttp|secur32|crypt32|windowscodecs|shlwapi|shell32|bcrypt|ntdll|rpcrt4|userenv)\.dll$'
for dll in "$@"; do
    dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
    exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep -oE '\] [A-Za-z_][A-Za-z0-9_]*$' | awk '{print $2}' | sort | tr '\n' ' ')
    if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
        echo "$dll exports: $exports"; status=1
    fi
    for imp in $(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}'); do
        if ! [[ $imp =~ $allowed ]]; then echo "$dll imports $imp"; status=1; fi
    done
    echo "$(basename "$dll"): exports [$exports] imports [$(printf '%s\n' "$dump" | awk '/DLL Name:/ {printf "%s ", $3}')]"
done
exit $status
