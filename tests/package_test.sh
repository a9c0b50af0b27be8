#!/usr/bin/env bash
# Builds the Debian package from a configured build tree, unpacks it into a scratch
# root and runs every installed program once; then checks `cmake --install` into a
# prefix the same way. Exits 77 (skipped) when the host lacks the packaging tools.
set -euo pipefail
build="$1"
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for cmd in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$cmd" >/dev/null || skip "$cmd is not installed"
done
[ -f "$build/CPackConfig.cmake" ] || skip "no CPack configuration in $build"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 \
    || { cat "$scratch/cpack.log"; fail "cpack did not build the package"; }
debs=("$scratch"/pkg/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb="${debs[0]}"

# Depends is computed by dpkg-shlibdeps: each library with or without a version.
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libpng16-16 libjpeg62-turbo libsquish0; do
    [[ ", $depends," == *", $lib,"* || ", $depends," == *", $lib ("* ]] || fail "Depends '$depends' lacks $lib"
done
dpkg-deb -x "$deb" "$scratch/root"

# Runs the three programs of one installation on a two-pixel TGA image.
check_install() {
    local bin="$1" man="$2" work="$scratch/work-$3"
    local tool out
    for tool in Mtxmake Mtxdump Mtxtrim; do
        [ -x "$bin/$tool" ] || fail "$bin/$tool missing"
        [ -f "$man/$tool.1" ] || fail "$man/$tool.1 missing"
        if command -v groff >/dev/null; then
            out="$(groff -man -Tutf8 -ww -z "$man/$tool.1" 2>&1)"
            [ -z "$out" ] || fail "$tool.1 renders with warnings: $out"
        fi
    done
    mkdir -p "$work"
    cd "$work"
    # 2 x 1 uncompressed 24-bit TGA: 18-byte header, then two BGR pixels.
    printf '\0\0\2\0\0\0\0\0\0\0\0\0\2\0\1\0\30\0\377\0\0\0\377\0' >wall.tga
    out="$("$bin/Mtxmake" walls '*.tga' </dev/null)" || fail "Mtxmake failed: $out"
    [[ "$out" == *$'\nAdd file <wall.tga>...\n'* ]] || fail "Mtxmake output: $out"
    out="$("$bin/Mtxdump" +list walls)" || fail "Mtxdump failed: $out"
    [[ "$out" == *$'\nProcess Pak file \'walls.mtx\'...\nwall' ]] || fail "Mtxdump output: $out"
    out="$("$bin/Mtxtrim")" || fail "Mtxtrim failed: $out"
    [[ "$out" == *$'\n 1 file(s) is optimized' ]] || fail "Mtxtrim output: $out"
    cd - >/dev/null
}

check_install "$scratch/root/usr/bin" "$scratch/root/usr/share/man/man1" deb

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null || fail "cmake --install failed"
check_install "$scratch/prefix/bin" "$scratch/prefix/share/man/man1" prefix
echo "package $(basename "$deb") and cmake --install both give working programs"
