# Set-up the benchmark scripts share (sourced): the project's root, and bench_setup, which
# builds the named targets in a Release tree (build-release/, or $MTX_BUILD) and makes the
# scratch folder $work, removed at exit.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${MTX_BUILD:-$root/build-release}"

bench_setup() {
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMTX_TESTS=OFF >/dev/null
    cmake --build "$build" --target "$@" -j 2 >/dev/null
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
}
