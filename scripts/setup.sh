#!/usr/bin/env bash
# Installs the Debian 12 packages Tessary needs to build, run and test. Run as root (or with
# sudo available). Safe to run again: apt-get skips what is already installed.
set -euo pipefail

# assimp-testmodels are the models scripts/testmodels.sh converts.
# clang and its runtime build the fuzz targets; llvm brings llvm-symbolizer, without which the
# sanitizers cannot name functions and the leak suppressions, which match by name, do not apply.
# libcurl reads chunked inputs from HTTP(S) servers; openssl makes the certificates of the
# stores test's TLS server.
# valgrind runs the memory check (scripts/memcheck.sh).
# dpkg-dev (dpkg-shlibdeps, dpkg-buildflags) and file make the Debian package with CPack;
# lintian, desktop-file-utils and groff check it (scripts/package.sh, scripts/packagecheck.sh);
# appstream and shared-mime-info check its AppStream metadata and MIME types (desktop_e2e_test);
# xdg-utils asks the desktop which application opens a volume (scripts/packagecheck.sh).
# libhdf5 reads HDF5 inputs; python3-h5py writes the files hdf5_test reads.
# python3-nibabel decodes the NIfTI files (its own test data) that scripts/niftisweep.sh packs,
# and its MINC2 test files, which scripts/mincsweep.sh packs. It and python3-mrcfile write and
# read back the MGH, Analyze and MRC files of scripts/writersweep.sh. minc-tools' rawtominc and
# minctoraw write the MINC2 files of scripts/mincsweep.sh and read back their real values.
# pydicom (with numpy, Pillow and GDCM's bindings for its decoders) brings the DICOM files that
# dicom_test and scripts/dicomsweep.sh read, and the samples the sweep compares against.
# dcm2niix and python3-tifffile (with nibabel, pydicom, Pillow, h5py, zarr) write the phantom
# that scripts/orientsweep.sh packs in every format and frame.
# python-tables-data brings PyTables' HDF5 test files, which scripts/hdf5sweep.sh packs.
# Zarr input decodes its chunks with blosc, zstd and lz4 and reads its metadata with
# nlohmann-json, and checks its crc32c checksums with ISA-L; python3-zarr and python3-numcodecs
# write the stores zarr_test reads.
# libbz2 decodes bzip2 NRRD samples; teem-apps' unu writes the NRRD files of every encoding and
# layout that scripts/nrrdsweep.sh packs, and decodes them for its comparison.
# npm brings s3rver, the S3 server of objectstores_test (installed below, for the tests only),
# and python3-boto3 fills its buckets.
# libcfitsio reads FITS inputs; python3-astropy and python3-vtk9 write and read back the FITS
# and VTK legacy files of scripts/writersweep.sh.
# python3-netcdf4 writes and decodes the netCDF files of scripts/netcdfsweep.sh.
# libeigen3-dev and libnanoflann-dev (headers only) reduce and search the exemplar's patches
# in tessary-vol synth; gimp-data's patterns are the exemplars of tessary-bench --synth.
packages=(
    build-essential cmake pkg-config
    qt6-base-dev libqt6opengl6-dev libgl1-mesa-dev libglu1-mesa-dev libglew-dev libdevil-dev
    libgtest-dev libtiff-dev libteem-dev libassimp-dev zlib1g-dev
    libnifti2-dev libgdcm-dev libcurl4-openssl-dev libhdf5-dev python3-h5py
    clang libclang-rt-14-dev llvm
    libgl1-mesa-dri fonts-liberation fonts-dejavu-core
    xvfb xauth x11-utils xdotool imagemagick python3 valgrind openssl
    assimp-testmodels python3-nibabel python3-numpy python3-mrcfile
    python3-pydicom python3-pil python3-gdcm python-tables-data
    libblosc-dev libzstd-dev liblz4-dev liblzma-dev libisal-dev libdeflate-dev nlohmann-json3-dev python3-zarr python3-numcodecs
    dpkg-dev file lintian desktop-file-utils groff-base appstream shared-mime-info xdg-utils
    libeigen3-dev libnanoflann-dev gimp-data
    dcm2niix python3-tifffile
    libcfitsio-dev python3-astropy python3-vtk9
    python3-netcdf4 minc-tools
    python3-boto3
    libbz2-dev teem-apps
)
# Node.js from elsewhere than Debian (NodeSource) brings its own npm, which Debian's conflicts with.
command -v npm >/dev/null || packages+=(npm)

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

# The JavaScript OME-Zarr writer, a test tool only: in a prefix of its own, outside the
# repository, at a pinned version, fetched once. Without the registry the sweep says it skipped.
npm_prefix=${TESSARY_TEST_NPM:-/opt/tessary-test/npm}
ngff_zarr=0.14.0
if ! grep -qs "\"version\": \"$ngff_zarr\"" \
    "$npm_prefix/node_modules/@fideus-labs/ngff-zarr/package.json"; then
    echo "Installing @fideus-labs/ngff-zarr $ngff_zarr into $npm_prefix"
    $sudo mkdir -p "$npm_prefix"
    $sudo npm install --prefix "$npm_prefix" --no-audit --no-fund --loglevel=error \
        "@fideus-labs/ngff-zarr@$ngff_zarr" >/dev/null ||
        echo "Could not install @fideus-labs/ngff-zarr: the ngff-zarr sweep will be skipped"
fi
# HyperSpy's test and example files (EMD from FEI's Velox, NeXus from Diamond, HyperSpy's own
# HDF5), which scripts/hdf5sweep.sh packs: the package unpacked, not installed, since nothing
# of it runs here. Without the archive the sweep packs PyTables' files alone.
hyperspy=${TESSARY_TEST_DEBS:-/opt/tessary-test/debs}/python3-hyperspy
if [ ! -d "$hyperspy/usr" ]; then
    echo "Unpacking python3-hyperspy's files into $hyperspy"
    download=$(mktemp -d)
    chmod 755 "$download" # apt's download user writes into it
    if (cd "$download" && apt-get download -qq python3-hyperspy 2>/dev/null) &&
        $sudo mkdir -p "$hyperspy" && $sudo dpkg -x "$download"/python3-hyperspy_*.deb "$hyperspy"; then
        :
    else
        echo "Could not fetch python3-hyperspy: the HDF5 sweep packs PyTables' files alone"
    fi
    rm -rf "$download"
fi
# s3rver, pinned, into a prefix of its own outside the checkout: the tests look for it there.
s3rver=/opt/tessary-test/s3rver
if [ ! -f "$s3rver/node_modules/s3rver/package.json" ]; then
    echo "Installing s3rver into $s3rver"
    $sudo mkdir -p "$s3rver"
    $sudo npm install --prefix "$s3rver" --no-audit --no-fund --loglevel=error s3rver@3.7.1
fi
