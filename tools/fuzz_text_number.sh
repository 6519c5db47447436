#!/usr/bin/env bash
# Fuzzes the number of a text: builds tests/fuzz/fuzz_text_number.cpp with core/TextNumber.cpp (and Rounding.cpp)
# under clang's libFuzzer, AddressSanitizer and UBSan, and runs it for a bounded time.
#   tools/fuzz_text_number.sh [SECONDS] [WORK_FOLDER]
# The corpus grows in WORK_FOLDER/corpus from run to run. Exits 77 (a skip for CTest) when
# clang-14 or libFuzzer is not installed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
work="${2:-$root/build/fuzz}"

if ! command -v clang++-14 > /dev/null || ! compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" > /dev/null; then
    echo "SKIPPED: clang++-14 with libFuzzer is not installed (Debian: clang-14 libfuzzer-14-dev)"
    exit 77
fi

mkdir -p "$work/corpus"
# Qt is built position-independent and wants its users so.
# shellcheck disable=SC2046
clang++-14 -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" $(pkg-config --cflags Qt6Core) \
    "$root/tests/fuzz/fuzz_text_number.cpp" "$root/core/TextNumber.cpp" "$root/core/Rounding.cpp" \
    $(pkg-config --libs Qt6Core) -o "$work/fuzz_text_number"

cd "$work"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ./fuzz_text_number -max_total_time="$seconds" -timeout=10 -error_exitcode=1 -max_len=256 -print_final_stats=1 \
    corpus "$root/tests/fuzz/text_number_seeds"
