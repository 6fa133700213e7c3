#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer) and runs
# each for a bounded time. A crash input is kept in fuzz/regressions/<target>/, where the normal
# build's tests replay it; the committed seed corpus is read but not changed.
# Usage: fuzz/run.sh [seconds per target, default 60] [build folder, default build-fuzz]
set -euo pipefail

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${2:-$root/build-fuzz}
targets=(fuzz_record fuzz_csvnumber fuzz_recordingreader fuzz_rundescription fuzz_statistics fuzz_rigmessages)

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a \
    >/dev/null 2>&1; then
    echo "fuzzing needs clang and its fuzzer runtime (Debian: clang libclang-rt-14-dev)" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUELLSPAN_FUZZ=ON -DQUELLSPAN_TESTS=OFF -DQUELLSPAN_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

status=0
for target in "${targets[@]}"; do
    regressions=$here/regressions/$target
    mkdir -p "$regressions"
    # New inputs go to a scratch corpus (the first folder); the committed ones only seed the run.
    scratch=$(mktemp -d)
    echo "== $target: ${seconds} s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -artifact_prefix="$regressions/" \
        -print_final_stats=1 "$scratch" "$here/corpus/$target" "$regressions"; then
        echo "== $target FAILED: the crash input is in $regressions/" >&2
        status=1
    fi
    rm -rf "$scratch"
done
exit $status
