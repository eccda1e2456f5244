#!/usr/bin/env bash
# Build the Debian package with CPack, install it with dpkg, and check the
# installed programs as a user would: both are on the PATH, their manual pages
# and desktop entry are in place, `vxlconv --help` works, vxlconv converts the
# installed .vox example and, through the installed OpenVDB module, a small
# .vdb from the fuzzing seeds, and voxscope shows the installed examples under a
# private Xvfb (screenshots saved in the build directory). The package is
# removed again at the end. vxlrender is checked too: on the PATH, its page,
# the .vxl, MagicaVoxel and binvox file types resolved by xdg-mime and gio,
# the icons, and thumbnails of each made by the installed thumbnailer entry
# inside GNOME's bubblewrap sandbox. The "Open with voxscope" entry
# (vxlconv --view) must pass desktop-file-validate.
#
# Installing needs root. Without it the stage says so and is skipped: nothing
# is claimed to have passed.
#
# VOXSCOPE_BUILD_DIR picks the (already built) build directory (default: build).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build_dir="${VOXSCOPE_BUILD_DIR:-build}"
[[ "$build_dir" == /* ]] || build_dir="$root/$build_dir"

if [[ $(id -u) -ne 0 ]]; then
    echo "test_package.sh: SKIPPED, not run: installing the package needs root" >&2
    exit 0
fi

fail() {
    echo "test_package.sh: FAILED: $*" >&2
    exit 1
}

out="$build_dir/package"
rm -rf "$out"
cpack --config "$build_dir/CPackConfig.cmake" -B "$out" >"$build_dir/cpack.log" 2>&1 ||
    { tail -n 30 "$build_dir/cpack.log" >&2; fail "cpack could not build the package"; }
debs=("$out"/voxscope_*.deb)
[[ -f "${debs[0]}" ]] || fail "no package in $out"
deb="${debs[0]}"
echo "test_package.sh: built $(basename "$deb")"

# What the package holds and needs.
contents="$(dpkg-deb --contents "$deb")"
for path in ./usr/bin/voxscope ./usr/bin/vxlconv ./usr/share/man/man1/voxscope.1 \
    ./usr/share/man/man1/vxlconv.1 ./usr/share/applications/voxscope.desktop \
    ./usr/share/applications/vxlconv-view.desktop \
    ./usr/share/voxscope/examples/terrain.vxl ./usr/share/voxscope/examples/scene.vox \
    ./usr/bin/vxlrender ./usr/share/man/man1/vxlrender.1 ./usr/share/mime/packages/voxscope.xml \
    ./usr/share/thumbnailers/vxlrender.thumbnailer \
    ./usr/share/icons/hicolor/scalable/apps/voxscope.svg \
    ./usr/share/icons/hicolor/scalable/mimetypes/model-x-vxl.svg \
    ./usr/lib/voxscope/libvoxscope_vdb.so; do
    grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
for size in 16 22 24 32 48 64 128 256; do
    for icon in apps/voxscope mimetypes/model-x-vxl; do
        path="./usr/share/icons/hicolor/${size}x${size}/$icon.png"
        grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
    done
done
depends="$(dpkg-deb --field "$deb" Depends)"
# libopenvdb is needed by the OpenVDB module alone, which no program links.
for lib in libassimp libglut libc6 libegl1 libpng16 libopenvdb; do
    grep -q "$lib" <<<"$depends" || fail "Depends ($depends) does not name $lib"
done

# Other worktrees on this machine may run this stage too; one at a time.
exec 9>/tmp/voxscope-package-test.lock
flock 9

dpkg -i "$deb" >/dev/null || fail "dpkg -i $deb"
trap 'dpkg -r voxscope >/dev/null 2>&1 || true' EXIT

[[ "$(command -v voxscope)" == /usr/bin/voxscope ]] || fail "voxscope is not /usr/bin/voxscope on the PATH"
[[ "$(command -v vxlconv)" == /usr/bin/vxlconv ]] || fail "vxlconv is not /usr/bin/vxlconv on the PATH"
# Read whole first: grep -q stops at the first line, and under pipefail the
# help's own write would then die of SIGPIPE and fail the check at random.
grep -q '^Usage: vxlconv' <<<"$(vxlconv --help)" || fail "vxlconv --help"
if command -v man >/dev/null 2>&1; then
    for page in voxscope vxlconv; do
        [[ "$(man -w "$page")" == /usr/share/man/man1/"$page".1* ]] || fail "man -w $page"
    done
fi
desktop-file-validate /usr/share/applications/voxscope.desktop || fail "the desktop entry is not valid"
grep -q '^Exec=voxscope %f$' /usr/share/applications/voxscope.desktop || fail "desktop entry's Exec line"
grep -q '^MimeType=model/x-vxl;$' /usr/share/applications/voxscope.desktop || fail "desktop entry's MimeType line"
view_entry=/usr/share/applications/vxlconv-view.desktop
desktop-file-validate "$view_entry" || fail "the Open with voxscope entry is not valid"
grep -q '^Exec=vxlconv --view %f$' "$view_entry" || fail "the Open with voxscope entry's Exec line"
grep -q '^NoDisplay=true$' "$view_entry" || fail "the Open with voxscope entry shows in menus"
grep -q '^MimeType=model/x-magicavoxel;model/x-binvox;$' "$view_entry" ||
    fail "the Open with voxscope entry's MimeType line"

# vxlrender and the file type.
[[ "$(command -v vxlrender)" == /usr/bin/vxlrender ]] || fail "vxlrender is not /usr/bin/vxlrender on the PATH"
grep -q '^Usage: vxlrender' <<<"$(vxlrender --help)" || fail "vxlrender --help"
if command -v man >/dev/null 2>&1; then
    [[ "$(man -w vxlrender)" == /usr/share/man/man1/vxlrender.1* ]] || fail "man -w vxlrender"
fi
# dpkg's trigger has rebuilt the MIME database from the package's type.
for type in model/x-vxl model/x-magicavoxel model/x-binvox; do
    grep -q "$type" /usr/share/mime/globs2 || fail "the MIME database lacks $type after installing"
done

work="$(mktemp -d)"
trap 'rm -rf "$work"; dpkg -r voxscope >/dev/null 2>&1 || true' EXIT
vxlconv /usr/share/voxscope/examples/scene.vox "$work/scene.vxl" || fail "vxlconv on the installed example"
# The module beside the installed program, not the build tree's, must read it.
LD_DEBUG=files LD_DEBUG_OUTPUT="$work/loader" vxlconv "$root/tests/fuzz/corpus/input_fuzz/vdb_fog.vdb" \
    "$work/fog.vxl" --threshold 0.5 || fail "vxlconv on a .vdb"
read -r count _ <"$work/fog.vxl"
((count > 0)) || fail "vxlconv wrote no voxels of the .vdb"
grep -q 'file=/usr/bin/../lib/voxscope/libvoxscope_vdb.so ' "$work"/loader.* ||
    fail "vxlconv did not load the installed OpenVDB module"

cp /usr/share/voxscope/examples/terrain.vxl "$work/model.vxl"
[[ "$(gio info -a standard::content-type "$work/model.vxl" | sed -n 's/.*standard::content-type: //p')" == model/x-vxl ]] ||
    fail "gio does not resolve a .vxl file to model/x-vxl"
[[ "$(XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$work/model.vxl")" == model/x-vxl ]] ||
    fail "xdg-mime does not resolve a .vxl file to model/x-vxl"
cp /usr/share/voxscope/examples/scene.vox "$work/model.vox"
python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import make_grids
open(sys.argv[2], "wb").write(make_grids.binvox(24, lambda x, y, z: (x - 11.5) ** 2 + (y - 11.5) ** 2 + (z - 11.5) ** 2 < 100))' \
    "$root/tools" "$work/model.binvox"
for pair in model.vox:model/x-magicavoxel model.binvox:model/x-binvox; do
    file="$work/${pair%%:*}" type="${pair#*:}"
    [[ "$(gio info -a standard::content-type "$file" | sed -n 's/.*standard::content-type: //p')" == "$type" ]] ||
        fail "gio does not resolve $(basename "$file") to $type"
    [[ "$(XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$file")" == "$type" ]] ||
        fail "xdg-mime does not resolve $(basename "$file") to $type"
done
vxlrender "$work/model.vxl" "$build_dir/package-vxlrender.png" --view iso || fail "vxlrender on the installed example"
python3 "$root/tests/e2e/check_thumbnailer.py" --thumbnailer /usr/share/thumbnailers/vxlrender.thumbnailer \
    --model /usr/share/voxscope/examples/terrain.vxl --model "$work/model.vox" \
    --model "$work/model.binvox" --reference /usr/bin/vxlrender ||
    fail "the installed thumbnailer in the sandbox"

python3 "$root/tests/e2e/check_installed.py" --model /usr/share/voxscope/examples/terrain.vxl \
    --screenshot "$build_dir/package-terrain.png" || fail "voxscope on the installed terrain"
python3 "$root/tests/e2e/check_installed.py" --model "$work/scene.vxl" \
    --screenshot "$build_dir/package-scene.png" || fail "voxscope on the converted example"
echo "test_package.sh: package installed, the three programs ran from the PATH, thumbnails were made in the sandbox, removed again"
