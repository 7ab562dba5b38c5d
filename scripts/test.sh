#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, the Debian package
# (scripts/packagecheck.sh), the memory check (scripts/memcheck.sh) and the quick start
# (scripts/run.sh) without a display, a clang build with the tests that need no display, then
# the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz smoke
# run (scripts/fuzz.sh).
# GL tests run under Xvfb when no display is set. Exits non-zero when any test fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    source "$root/scripts/xvfb.sh"
    start_xvfb 1280x1024x24
    trap 'kill $xvfb 2>/dev/null || true' EXIT
fi

echo "== normal build"
bash "$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure)
# The Debian package: built, linted, installed, started from its launcher, purged.
echo "== package"
bash "$root/scripts/packagecheck.sh"
# Every model of Debian's assimp-testmodels through tessary-vol mesh: none may crash, hang or
# leave output behind.
echo "== model sweep"
bash "$root/scripts/testmodels.sh" "$root/build/converter/tessary-vol"
# Every NIfTI file of nibabel's test data (and nifti_clib's example) packed and compared with
# what nibabel decodes, volume by volume.
echo "== NIfTI sweep"
bash "$root/scripts/niftisweep.sh" "$root/build/converter/tessary-vol"
# The files mrcfile (MRC), nibabel (MGH, Analyze, NIfTI pairs), NumPy (.npz), astropy (FITS) and
# VTK (legacy .vtk) write, in every mode and type, packed and compared with what the same
# libraries read back.
echo "== writer sweep"
bash "$root/scripts/writersweep.sh" "$root/build/converter/tessary-vol"
# The NRRD files teem's unu writes, in every type, encoding, byte order and layout of their
# data, packed and compared with what unu decodes.
echo "== NRRD sweep"
bash "$root/scripts/nrrdsweep.sh" "$root/build/converter/tessary-vol"
# Every DICOM file of pydicom's test files: packed to the samples pydicom decodes, or refused in
# the one line expected.
echo "== DICOM sweep"
bash "$root/scripts/dicomsweep.sh" "$root/build/converter/tessary-vol"
# Every HDF5 file of PyTables' test files: each 3-D or 4-D numeric dataset packed to the samples
# h5py reads, everything else refused in one line naming the file.
echo "== HDF5 sweep"
bash "$root/scripts/hdf5sweep.sh" "$root/build/converter/tessary-vol"
# The MINC2 files minc-tools' rawtominc writes, in each type, order and frame, and nibabel's
# own, packed and compared exactly with minctoraw's and nibabel's real values and affines.
echo "== MINC sweep"
bash "$root/scripts/mincsweep.sh" "$root/build/converter/tessary-vol"
# The OME-Zarr stores the JavaScript writer @fideus-labs/ngff-zarr writes, NGFF 0.4 and 0.5,
# folders and .ozx, with its pyramids, packed to the values it was given and zarrita reads back.
echo "== ngff-zarr sweep"
bash "$root/scripts/ngffzarrsweep.sh" "$root/build/converter/tessary-vol"
# The older OME-Zarr layouts (NGFF 0.1 to 0.3, bioformats2raw's) as python3-zarr writes them,
# every level packed and compared with what zarr reads back.
echo "== Zarr layout sweep"
bash "$root/scripts/zarrlayoutsweep.sh" "$root/build/converter/tessary-vol"
# The netCDF-4 variables python3-netcdf4 writes, with CF masks and packing, packed to what
# netCDF4 decodes; a netCDF-3 file refused as such.
echo "== netCDF sweep"
bash "$root/scripts/netcdfsweep.sh" "$root/build/converter/tessary-vol"
# One asymmetric phantom through each format's own writer, in several frames, packed and
# compared exactly with the orientation rule; each DICOM series against dcm2niix's NIfTI of it.
echo "== orientation sweep"
bash "$root/scripts/orientsweep.sh" "$root/build/converter/tessary-vol"
# The other scripts, so that none rots unseen: the viewer under valgrind, and the quick start
# without a display (its Xvfb-and-screenshot path).
echo "== memory check (valgrind)"
bash "$root/scripts/memcheck.sh" "$root/build"
echo "== quick start without a display"
rm -f "$root/build/tessary-screenshot.png"
env -u DISPLAY timeout 300 bash "$root/scripts/run.sh"
[ -s "$root/build/tessary-screenshot.png" ]

echo "== clang build (everything builds with both compilers; the tests that need no display)"
CC=clang CXX=clang++ bash "$root/scripts/build.sh" "$root/build-clang"
(cd "$root/build-clang" && ctest --output-on-failure -LE gl)

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
bash "$root/scripts/build.sh" "$root/build-asan" -DTESSARY_SANITIZE=ON
# Leak checking covers the program's own allocations; the suppressions name only leaks that
# belong to the system libraries (Mesa, fontconfig, X).
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$root/build-asan" && ctest --output-on-failure)

echo "== fuzz smoke (each libFuzzer target for a fixed number of executions)"
bash "$root/scripts/fuzz.sh"
