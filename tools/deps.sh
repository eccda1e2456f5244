#!/usr/bin/env bash
# Install the Debian packages voxscope needs, and nothing when they are all
# present already (no network, well under a second).
#
#   tools/deps.sh build   compiler, CMake, GL/GLU/freeglut, EGL, libpng, zlib,
#                         assimp and GoogleTest headers, software GL, and the
#                         virtual-display tools run.sh falls back to
#   tools/deps.sh test    all of the above plus Google Benchmark,
#                         python3, clang-format, assimp's test models and
#                         command-line tool, node and npm, Chromium, and the
#                         Debian packaging tools
#   tools/deps.sh fuzz    the build set plus clang and its libFuzzer and
#                         sanitizer runtimes
set -euo pipefail

usage() {
    echo "usage: $0 build|test|fuzz" >&2
    exit 2
}

[[ $# -le 1 ]] || usage
mode="${1:-build}"

# llvmpipe (libgl1-mesa-dri) lets the viewer draw without a GPU; xvfb, x11-utils,
# xdotool and imagemagick let run.sh show the model on a virtual display and
# save a screenshot when no real display is reachable.
# libassimp-dev: the asset import library vxlconv reads meshes and point
# clouds with. zlib1g-dev: the gzip and zip (deflate) data of NRRD, NIfTI
# and NumPy .npz inputs.
# libtiff-dev: the TIFF stacks vxlconv reads (every compression libtiff
# decodes).
# libegl-dev, libegl-mesa0, libpng-dev: vxlrender draws through EGL on Mesa's
# surfaceless platform and writes PNG with libpng.
# libgdcm-dev: GDCM, which decodes DICOM in every common transfer syntax.
# libopenvdb-dev: libopenvdb (with its TBB, Imath and blosc), which reads
# OpenVDB grids.
# libblosc-dev, libzstd-dev, nlohmann-json3-dev: Zarr stores' blosc and
# zstd chunks, and their JSON metadata.
# libhdf5-dev: libhdf5's C library, which reads HDF5 volumes (tomography).
# libgtest-dev: the default build (tools/build.sh, run.sh) configures the unit
# tests too, and CMake stops without GoogleTest.
build_pkgs=(
    cmake g++ make pkg-config
    freeglut3-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
    xvfb x11-utils xdotool imagemagick
    libassimp-dev zlib1g-dev libtiff-dev
    libegl-dev libegl-mesa0 libpng-dev
    libgdcm-dev
    libopenvdb-dev
    libblosc-dev libzstd-dev nlohmann-json3-dev
    libhdf5-dev
    libgtest-dev
)
# assimp-testmodels: real models the converter's end-to-end test converts;
# dpkg-dev and file: CPack's Debian package and its library dependencies;
# desktop-file-utils: the check of the installed desktop entry.
# bubblewrap: the sandbox file managers run thumbnailers in; shared-mime-info,
# xdg-utils and libglib2.0-bin (gio): the installed file type resolved.
# assimp-utils: the asset library's own command-line reader, which opens the
# PLY, OBJ and STL files vxlconv writes; nodejs and npm: the glTF Validator,
# the .vox reader and playwright-core the export and web page tests install
# from the npm registry (a machine whose node already brings npm keeps it);
# chromium: the browser the web page test opens vxlconv's pages in.
# python3-nibabel (with python3-numpy): NIfTI-1, NIfTI-2 and MGZ files
# written by the format's own library (every storage order and flip, masks,
# thick slices) for the converter's end-to-end tests, run by /usr/bin/python3.
# python3-pydicom and libgdcm-tools (gdcmconv): DICOM series written by
# pydicom and transcoded to every lossless transfer syntax; pydicom's own
# test files.
# python3-tifffile: TIFF stacks, ImageJ hyperstacks and OME-TIFFs written by
# the format's own library for the same tests and the TIFF benchmark.
# python3-openvdb: OpenVDB fog volumes, level sets, colour and bool grids
# written by the format's own library for the OpenVDB tests and benchmark.
# python3-zarr and python3-numcodecs: Zarr stores and OME-Zarr pyramids
# written by zarr-python, and the codecs of tools/make_zarr.py's v3 writer,
# for the Zarr tests and benchmark.
# python3-h5py: HDF5 files written by the format's own library (every type,
# chunked, compressed, Data Exchange and NeXus layouts) for the same tests
# and the HDF5 benchmark.
test_pkgs=(
    libbenchmark-dev python3 clang-format
    assimp-testmodels dpkg-dev file desktop-file-utils
    bubblewrap shared-mime-info xdg-utils libglib2.0-bin
    assimp-utils chromium python3-nibabel python3-numpy python3-tifffile
    python3-pydicom libgdcm-tools python3-openvdb
    python3-zarr python3-numcodecs python3-h5py
)
if ! command -v npm >/dev/null 2>&1; then
    test_pkgs+=(nodejs npm)
fi

fuzz_pkgs=(
    clang libclang-rt-14-dev
)

case "$mode" in
    build) wanted=("${build_pkgs[@]}") ;;
    test) wanted=("${build_pkgs[@]}" "${test_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
    fuzz) wanted=("${build_pkgs[@]}" "${fuzz_pkgs[@]}") ;;
    *) usage ;;
esac

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "deps.sh: dpkg-query not found; this script installs Debian packages only." >&2
    echo "deps.sh: please install by hand: ${wanted[*]}" >&2
    exit 1
fi

# One dpkg-query call for all packages keeps the nothing-to-do case fast. It
# prints "name status" per installed instance (one per architecture for
# multi-arch packages) and complains on stderr about unknown names.
declare -A installed=()
while read -r name want ok state; do
    if [[ "$want $ok $state" == "install ok installed" ]]; then
        installed["$name"]=1
    fi
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${wanted[@]}" 2>/dev/null || true)

missing=()
for pkg in "${wanted[@]}"; do
    [[ -n "${installed[$pkg]:-}" ]] || missing+=("$pkg")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "deps.sh: missing packages: ${missing[*]}" >&2

if [[ $(id -u) -eq 0 ]]; then
    as_root() { "$@"; }
elif command -v sudo >/dev/null 2>&1; then
    as_root() { sudo "$@"; }
else
    echo "deps.sh: these packages are missing and this is not root (and sudo is not available):" >&2
    echo "deps.sh:   ${missing[*]}" >&2
    echo "deps.sh: install them as root with: apt-get install ${missing[*]}" >&2
    exit 1
fi

as_root apt-get update
as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
