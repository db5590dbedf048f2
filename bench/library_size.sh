#!/usr/bin/env bash
# Builds the libraries as a Release build and reports their stripped sizes
# against the budget of libtessel (2 MiB with the whole catalogue).
#   bench/library_size.sh [build dir]      (default: build-release)
# Exits 1 when libtessel is over budget.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-release}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSEL_BUILD_TESTS=OFF \
      -DTESSEL_BUILD_TOOLS=OFF -DTESSEL_BUILD_EXAMPLES=OFF -DTESSEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target tessel kora >/dev/null
budget=$((2 * 1024 * 1024))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for lib in "$dir"/framework/libkora.so "$dir"/libraries/tessel/libtessel.so; do
    strip -o "$tmp/lib.so" "$(readlink -f "$lib")"
    size=$(stat -c %s "$tmp/lib.so")
    exported=$(nm -D --defined-only "$tmp/lib.so" | wc -l)
    printf '%-14s %8d bytes stripped (%d KiB), %d exported symbols\n' "$(basename "$lib")" \
           "$size" $((size / 1024)) "$exported"
    last=$size
done
printf 'libtessel: %d%% of its 2 MiB budget\n' $((100 * last / budget))
[ "$last" -le "$budget" ]
