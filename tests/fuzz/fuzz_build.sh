# Sourced by the run_*_fuzzer scripts: configures BUILD_DIR ($2) for the
# fuzz targets of the source tree ($1) with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer.
configure_fuzz_build() {
  sanitizers=address,undefined
  cmake -S "$1" -B "$2" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link,$sanitizers -fno-sanitize-recover=all" \
    "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,$sanitizers -fno-sanitize-recover=all" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=$sanitizers" \
    -DULMORA_FUZZ=ON -DULMORA_BUILD_BENCH=OFF >/dev/null
}
