#!/usr/bin/env bash
# The Windows cross-build's foundation: installs the MinGW-w64 compilers and Wine when
# missing, and cross-builds zlib, libpng, libjpeg-turbo, libsquish and GoogleTest as
# static libraries into build-windows/deps/prefix from Debian's sources of the versions
# installed for Linux.
# A rerun with the same versions, compiler and recipe only checks.
#
# Sourced, it defines mtx_windows_deps, mtx_wine_env and the paths below; run, it
# calls mtx_windows_deps. Call mtx_windows_deps plainly (not under `if` or `||`):
# bash ignores set -e there.

MTX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MTX_WINDOWS_BUILD="$MTX_ROOT/build-windows"
# Fixed, as a rebuild empties it; exported so the toolchain file finds the same one.
MTX_WINDOWS_DEPS_PREFIX="$MTX_WINDOWS_BUILD/deps/prefix"
MTX_WINDOWS_TOOLCHAIN="$MTX_ROOT/cmake/mingw-w64-x86_64.cmake"
MTX_WINDOWS_DEPS_SCRIPT="$MTX_ROOT/scripts/windows-deps.sh"
export MTX_WINDOWS_DEPS_PREFIX

# Host packages; recommends are left out, as Wine's pull in a desktop's worth of
# graphics, sound and font packages that console programs never touch.
MTX_WINDOWS_PACKAGES="g++-mingw-w64-x86-64-posix wine wine64 nasm cmake make dpkg-dev
    bzip2 xz-utils zlib1g-dev libpng-dev libjpeg62-turbo-dev libsquish-dev libgtest-dev"

# Wine for scripts and tests: quiet, no windows, its own prefix in the build folder,
# and no offer to install Mono or Gecko when the prefix is made.
mtx_wine_env() {
    export WINEPREFIX="$MTX_WINDOWS_BUILD/wine"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}

mtx_windows_deps() (
    set -euo pipefail
    local deps="$MTX_WINDOWS_BUILD/deps"
    local prefix="$MTX_WINDOWS_DEPS_PREFIX"
    say() { echo "windows-deps: $*"; }

    # Host packages, only those missing.
    local missing=() pkg
    for pkg in $MTX_WINDOWS_PACKAGES; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        say "installing ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
        $sudo env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi

    # Source package and version behind each Linux -dev package: what the build wants.
    local libs="zlib1g-dev libpng-dev libjpeg62-turbo-dev libsquish-dev libgtest-dev" dev wanted=""
    for dev in $libs; do
        wanted+="$(dpkg-query -W -f='${source:Package} ${source:Version}' "$dev")"$'\n'
    done
    local stamp_new
    stamp_new="${wanted}compiler $(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
recipe $(cat "$MTX_WINDOWS_DEPS_SCRIPT" "$MTX_WINDOWS_TOOLCHAIN" | sha256sum | cut -c1-16)"
    if [ -f "$deps/stamp" ] && [ "$(cat "$deps/stamp")" = "$stamp_new" ] &&
        [ -f "$prefix/lib/libz.a" ] && [ -f "$prefix/lib/libpng.a" ] && [ -f "$prefix/lib/libjpeg.a" ] &&
        [ -f "$prefix/lib/libsquish.a" ] && [ -f "$prefix/lib/libgtest.a" ]; then
        say "up to date in $prefix"
        return 0
    fi
    rm -f "$deps/stamp"
    rm -rf "$deps/src" "$deps/build" "$deps/log" "$prefix"
    mkdir -p "$deps/src" "$deps/build" "$deps/log" "$prefix"

    # A private apt setup that fetches sources without touching the system's lists:
    # the machine's own Debian entries, turned from binary to source entries.
    local apt="$deps/apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    : >"$apt/sources.list"
    rm -f "$apt/sources.list.d/"*
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt/sources.list"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
    done
    local aptopt=(-o "Dir::Etc::SourceList=$apt/sources.list"
        -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
        -o "APT::Sandbox::User=root")
    say "updating the private source index"
    apt-get "${aptopt[@]}" update -qq

    # Fetches and unpacks (with Debian's patches) a source package at the wanted
    # version. Once the archive has dropped that revision, it takes the newest one
    # of the same upstream version, and says so.
    fetch() {
        local name=$1 version=$2 v dsc
        local candidates
        candidates="$(printf '%s\n' "$version"
            apt-cache "${aptopt[@]}" showsrc "$name" | sed -n 's/^Version: //p' |
                awk -v v="$version" -v up="${version%-*}-" '$0 != v && index($0, up) == 1' |
                sort -u -r -V)"
        for v in $candidates; do
            rm -rf "$deps/src/$name.dl" && mkdir -p "$deps/src/$name.dl"
            if (cd "$deps/src/$name.dl" &&
                apt-get "${aptopt[@]}" source -qq --download-only --only-source "$name=$v" >>"$deps/log/$name.log" 2>&1); then
                [ "$v" = "$version" ] ||
                    say "WARNING: $name $version is no longer in the archive; building $v instead"
                dsc="$(ls "$deps/src/$name.dl/"*.dsc)"
                dpkg-source -q -x "$dsc" "$deps/src/$name" >>"$deps/log/$name.log" 2>&1
                echo "$name $v" >>"$deps/built"
                return 0
            fi
        done
        say "FAILED: no source of $name $version (see $deps/log/$name.log)"
        exit 1
    }

    # Runs a build step with its output in the library's log, shown if the step fails.
    step() {
        local log="$deps/log/$1.log"
        shift
        if ! "$@" >>"$log" 2>&1; then
            say "FAILED: $*"
            tail -n 40 "$log"
            exit 1
        fi
    }
    local jobs
    jobs="$(nproc)"
    local cmake_common=(-DCMAKE_TOOLCHAIN_FILE="$MTX_WINDOWS_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_INSTALL_PREFIX="$prefix")

    : >"$deps/built"
    local name version
    while read -r name version; do
        [ -n "$name" ] || continue
        say "fetching $name $version"
        fetch "$name" "$version"
    done <<<"$wanted"

    # zlib: only the static target; its DLL target needs a resource file that Debian's
    # repacked source leaves out. The archive is installed as libz.a, the name
    # FindZLIB looks for.
    say "building zlib"
    step zlib cmake -S "$deps/src/zlib" -B "$deps/build/zlib" "${cmake_common[@]}" \
        -DSKIP_INSTALL_LIBRARIES=ON -DSKIP_INSTALL_FILES=ON
    step zlib cmake --build "$deps/build/zlib" --target zlibstatic -j "$jobs"
    step zlib cmake --install "$deps/build/zlib"
    step zlib install -D -m 644 "$deps/build/zlib/libzlibstatic.a" "$prefix/lib/libz.a"

    say "building libpng"
    step libpng1.6 cmake -S "$deps/src/libpng1.6" -B "$deps/build/libpng" "${cmake_common[@]}" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
    step libpng1.6 cmake --build "$deps/build/libpng" -j "$jobs"
    step libpng1.6 cmake --install "$deps/build/libpng"

    # libjpeg-turbo with its SIMD code (assembled by nasm), as Debian builds it for Linux.
    say "building libjpeg-turbo"
    step libjpeg-turbo cmake -S "$deps/src/libjpeg-turbo" -B "$deps/build/libjpeg-turbo" "${cmake_common[@]}" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
        -DWITH_SIMD=ON -DREQUIRE_SIMD=ON
    step libjpeg-turbo cmake --build "$deps/build/libjpeg-turbo" -j "$jobs"
    step libjpeg-turbo cmake --install "$deps/build/libjpeg-turbo"

    # libsquish for DXT decoding: the static library alone, without OpenMP (only its
    # compressor uses threads, and the programs would need the OpenMP runtime's DLL).
    say "building libsquish"
    step libsquish cmake -S "$deps/src/libsquish" -B "$deps/build/libsquish" "${cmake_common[@]}" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_SQUISH_WITH_OPENMP=OFF -DBUILD_SQUISH_EXTRA=OFF
    step libsquish cmake --build "$deps/build/libsquish" -j "$jobs"
    step libsquish cmake --install "$deps/build/libsquish"

    # GoogleTest for the test programs; gmock is not used.
    say "building googletest"
    step googletest cmake -S "$deps/src/googletest" -B "$deps/build/googletest" "${cmake_common[@]}" \
        -DBUILD_GMOCK=OFF -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF
    step googletest cmake --build "$deps/build/googletest" -j "$jobs"
    step googletest cmake --install "$deps/build/googletest"

    for f in libz.a libpng.a libjpeg.a libsquish.a libgtest.a libgtest_main.a; do
        [ -f "$prefix/lib/$f" ] || { say "FAILED: $prefix/lib/$f was not installed"; exit 1; }
    done
    if ls "$prefix/bin/"*.dll >/dev/null 2>&1; then
        say "FAILED: a DLL was built: $(ls "$prefix/bin/"*.dll)"
        exit 1
    fi
    mv "$deps/built" "$prefix/versions.txt"
    echo "$stamp_new" >"$deps/stamp"
    say "built into $prefix: $(tr '\n' ' ' <"$prefix/versions.txt")"
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    mtx_windows_deps "$@"
fi
