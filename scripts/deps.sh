# Sourced by the scripts: installs the Debian packages the build needs, only when missing.
# mtx_install_deps [more packages]: the tools' own needs plus the ones given.
mtx_install_deps() {
    local wanted="cmake g++ make libpng-dev libjpeg-dev libsquish-dev pkg-config $*"
    local missing=()
    local pkg
    for pkg in $wanted; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq "${missing[@]}"
}

# The test suite's library; Pillow (Debian's Python 3), whose DDS decoder the DXT
# decoding is compared with; dpkg-dev, whose dpkg-shlibdeps computes the test package's
# Depends.
MTX_TEST_DEPS="libgtest-dev python3-pil dpkg-dev"
# The gallery's browser check in scripts/test (Linux only).
MTX_BROWSER_DEPS="chromium"
# Only scripts/bench needs these: Google Benchmark, stb_image (the decoders' peer), jq to
# read the results, GNU time for peak memory.
MTX_BENCH_DEPS="libbenchmark-dev libstb-dev jq time"
