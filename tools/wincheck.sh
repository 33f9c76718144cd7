#!/bin/sh
# Compiles the Windows side of the program with the MinGW cross compiler, one
# file at a time, without linking: everything under src/ except the POSIX half
# of the OS layer. Exits non-zero if any file fails or the compiler is missing.
#
# The "-posix" flavour of the compiler is preferred: its C++ runtime has
# std::thread and std::mutex, which the "-win32" flavour lacks. Set WINCXX to
# choose a compiler yourself.

cd "$(dirname "$0")/.." || exit 1

if [ -n "${WINCXX:-}" ]; then
    cxx=$WINCXX
elif command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    cxx=x86_64-w64-mingw32-g++-posix
else
    cxx=x86_64-w64-mingw32-g++
fi

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "wincheck: MinGW compiler '$cxx' not found." >&2
    echo "wincheck: install it with: apt-get install -y g++-mingw-w64-x86-64" >&2
    exit 1
fi

files=$(find src -name '*.cpp' ! -path 'src/platform/posix/*' | LC_ALL=C sort)
if [ -z "$files" ]; then
    echo "wincheck: no source files under src/" >&2
    exit 1
fi

total=0
failed=0
for f in $files; do
    total=$((total + 1))
    if ! "$cxx" -std=c++17 -Wall -Wextra -Werror -Wformat=2 -Isrc -fsyntax-only "$f"; then
        echo "wincheck: FAILED $f" >&2
        failed=$((failed + 1))
    fi
done

if [ "$failed" -ne 0 ]; then
    echo "wincheck: $failed of $total files failed with $cxx" >&2
    exit 1
fi
echo "wincheck: all $total files compile for Windows with $cxx"
exit 0
