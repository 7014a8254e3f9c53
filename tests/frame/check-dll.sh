#!/bin/bash
# Checks each DLL's export table (the four entry points, nothing else), its
# import table (Windows system DLLs only: no libstdc++, libgcc or winpthread)
# and, after "--format F", that the DLLs that follow are built for F
# (pei-x86-64 or pei-i386): a 64-bit DLL in the 32-bit folder would not load
# in a 32-bit application pool.
#   check-dll.sh OBJDUMP [--format F] DLL... [--format F DLL...]
set -u
objdump=$1; shift
status=0
format=
allowed='^(kernel32|advapi32|ole32|oleaut32|user32|gdi32|msvcrt|ws2_32|winhttp|secur32|crypt32|windowscodecs|shlwapi|shell32|bcrypt|ntdll|rpcrt4|userenv)\.dll$'
while [ $# -gt 0 ]; do
    if [ "$1" = --format ]; then format=$2; shift 2; continue; fi
    dll=$1; shift
    dump=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
    built_for=$(printf '%s\n' "$dump" | sed -n 's/.*file format //p' | head -n 1)
    if [ -n "$format" ] && [ "$built_for" != "$format" ]; then
        echo "$dll is $built_for, not $format"; status=1
    fi
    exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | grep -oE '\] [A-Za-z_][A-Za-z0-9_]*$' | awk '{print $2}' | sort | tr '\n' ' ')
    if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
        echo "$dll exports: $exports"; status=1
    fi
    for imp in $(printf '%s\n' "$dump" | awk '/DLL Name:/ {print tolower($3)}'); do
        if ! [[ $imp =~ $allowed ]]; then echo "$dll imports $imp"; status=1; fi
    done
    echo "$dll ($built_for): exports [$exports] imports [$(printf '%s\n' "$dump" | awk '/DLL Name:/ {printf "%s ", $3}')]"
done
exit $status
