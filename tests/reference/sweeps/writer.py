"""Files that the field's own writers make, each volume against what their own readers decode: MRC written and read by mrcfile, MGH/MGZ, Analyze 7.5 and NIfTI pairs by
nibabel, .npz by NumPy, FITS by astropy (its spacing against astropy's WCS), TIFF pyramids by
tifffile (each level), VTK legacy files by VTK; and nibabel's own test files of these formats.

Every file is packed with --pad and --spacing 1,1,1 (any shape packs without resampling), a
file of several volumes for each of them with --volume T (or --dataset NAME), and must match
the reference's samples mapped to 8 bits as the converter maps them (reference.mapping),
within 1 for rounding, with the volume's axes laid out by the orientation rule (turn_of()).
Files of several volumes must be refused without a pick, in one line.
"""

import os

import mrcfile
import nibabel
import numpy
from astropy import units
from astropy.io import fits
from astropy.wcs import WCS

try:
    import tifffile
except ImportError:  # python3-tifffile is optional: its pyramids are left out
    tifffile = None

try:
    import vtk
    from vtk.util import numpy_support
except ImportError:  # python3-vtk9 is optional: its files are left out
    vtk = None

from .. import mapping, orientation
from ..runner import Case, Refusal

TITLE = "Writer"
REFERENCE = "mrcfile, nibabel, NumPy, astropy, tifffile, VTK"


def turn_of(frame, directions=None):
    """How the converter turns a file's axes i, j, k: an array placed nowhere shows each slice's
    first stored row at the top; a file placed in the patient's RAS+ frame (directions: one row
    per file axis) turns to the axes closest to LAS+; FITS and VTK keep their own axes (FITS's
    row 1 at the bottom)."""
    if frame == "own":
        return orientation.OWN
    return orientation.ARRAY if frame == "array" else orientation.world_turn(directions)


def check(sweep, path, picks, frame, directions=None, copied=False, tolerance=1):
    """picks: the arguments that pick a volume of the file ([] where it holds one) and the
    reference's volume (x, y, z[, c]) they pick. Each pick is packed and compared, then info
    must describe the file without a word on standard error."""
    turn = turn_of(frame, directions)
    for extra, volume in picks:
        label = " ".join([os.path.basename(path)] + extra)
        sweep.check(Case(label, path, mapping.expected_rgb(volume, copied), turn, tuple(extra),
                         tolerance))
    info = sweep.run("info", path, "--pad", *picks[0][0])
    if info.returncode != 0 or info.stderr:
        sweep.problem("%s: info gave exit %d, %r" % (path, info.returncode, info.stderr))


def refuse(sweep, path, words):
    """A file of several volumes or arrays, refused without a pick in one line."""
    sweep.refuse(Refusal(path, ("--pad",), words))


def mrc_files(sweep):
    """mrcfile's every mode, little- and big-endian, a volume, an image stack, a volume stack."""
    shape = (3, 4, 5)  # z, y, x
    ramp = numpy.arange(numpy.prod(shape)).reshape(shape)
    arrays = {
        "int8": (ramp * 7 % 256 - 128).astype(numpy.int8),
        "int16": (ramp * 1111 - 30000).astype(numpy.int16),
        "float32": (ramp * 0.37 - 4).astype(numpy.float32),
        "uint16": (ramp * 1000).astype(numpy.uint16),
        "uint8": (ramp * 4).astype(numpy.uint8),  # mrcfile widens it into mode 6
        "float16": (ramp * 0.125 - 3).astype(numpy.float16),
    }
    for name, array in arrays.items():
        path = sweep.file(name + ".mrc")
        with mrcfile.new(path, overwrite=True) as mrc:
            mrc.set_data(array)
            mrc.voxel_size = (1.5, 1.5, 1.5)
        mrc_check(sweep, path)
        mrc_check(sweep, big_endian_copy(path))
    stack = sweep.file("stack.mrcs")
    with mrcfile.new(stack, overwrite=True) as mrc:
        mrc.set_data(arrays["int16"])
        mrc.set_image_stack()
    mrc_check(sweep, stack)
    volumes = sweep.file("volumes.mrc")
    with mrcfile.new(volumes, overwrite=True) as mrc:
        mrc.set_data(numpy.stack([arrays["float32"], arrays["float32"] * -2, arrays["float32"]
                                  + 100]))
    refuse(sweep, volumes, "MRC volume stack of 3 volumes: pick one with --volume T (0 to 2)")
    mrc_check(sweep, volumes)


def big_endian_copy(path):
    """The file with every header field and sample in the other byte order, through mrcfile's
    own header layout; mrcfile must read it back as the same file."""
    with mrcfile.open(path) as mrc:
        header = mrc.header.astype(mrc.header.dtype.newbyteorder(">"))
        header.machst = mrcfile.utils.machine_stamp_from_byte_order(">")
        data = mrc.data.astype(mrc.data.dtype.newbyteorder(">"))
        original = numpy.array(mrc.data)
    swapped = path.replace(".mrc", "-big.mrc")
    with open(swapped, "wb") as f:
        f.write(header.tobytes() + data.tobytes())
    with mrcfile.open(swapped, permissive=False) as mrc:
        assert mrc.data.dtype.byteorder == ">" or mrc.data.dtype.itemsize == 1
        assert numpy.array_equal(mrc.data, original, equal_nan=True)
    return swapped


def mrc_check(sweep, path):
    with mrcfile.open(path, permissive=False) as mrc:
        data = numpy.array(mrc.data, dtype=numpy.float64)
        stacked = mrc.is_volume_stack()
    check(sweep, path, volume_picks([v.transpose(2, 1, 0) for v in data] if stacked
                                   else [data.transpose(2, 1, 0)]), "array")


def volume_picks(volumes):
    """Each volume with the --volume T that picks it, where there are several."""
    if len(volumes) == 1:
        return [([], volumes[0])]
    return [(["--volume", str(k)], volume) for k, volume in enumerate(volumes)]


def nibabel_check(sweep, path):
    image = nibabel.load(path)
    data = numpy.asanyarray(image.dataobj).astype(numpy.float64)
    volumes = [data[..., t] for t in range(data.shape[3])] if data.ndim == 4 else [data]
    copied = (image.get_data_dtype() == numpy.uint8 and image.dataobj.slope == 1
              and image.dataobj.inter == 0)
    directions = image.affine[:3, :3].T  # row k: where file axis k points
    check(sweep, path, volume_picks(volumes), "world", directions, copied)


def mgh_files(sweep):
    """nibabel's MGH and MGZ in each type, axial, oblique and FreeSurfer's coronal, with frames."""
    shape = (5, 4, 3)  # x, y, z
    ramp = numpy.arange(numpy.prod(shape)).reshape(shape)
    theta = numpy.radians(20)
    oblique = numpy.array([[numpy.cos(theta), -numpy.sin(theta), 0, 10],
                           [numpy.sin(theta), numpy.cos(theta), 0, -5],
                           [0, 0, 2, 3], [0, 0, 0, 1]])
    coronal = numpy.array([[-1, 0, 0, 0], [0, 0, 1, 0], [0, -1, 0, 0], [0, 0, 0, 1.0]])
    cases = [("uint8", numpy.diag([1.0, 1, 1, 1])), ("int16", oblique), ("int32", coronal),
             ("float32", numpy.diag([0.5, 0.5, 0.5, 1]))]
    for dtype, affine in cases:
        array = (ramp * 9 % 256).astype(dtype)
        for suffix in (".mgh", ".mgz"):
            path = sweep.file(dtype + suffix)
            nibabel.save(nibabel.MGHImage(array, affine), path)
            nibabel_check(sweep, path)
    frames = sweep.file("frames.mgz")
    nibabel.save(nibabel.MGHImage(numpy.stack([ramp, -ramp, ramp * 3], axis=-1)
                                  .astype(numpy.float32), oblique), frames)
    refuse(sweep, frames, "MGH file of 3 frames: pick one with --volume T (0 to 2)")
    nibabel_check(sweep, frames)


def analyze_files(sweep):
    """nibabel's Analyze 7.5 (plain and with SPM's scale) and NIfTI-1 pairs, the image plain and
    gzip; the .hdr and the .img each named."""
    shape = (5, 4, 3)
    ramp = numpy.arange(numpy.prod(shape)).reshape(shape)
    zooms = numpy.diag([2.0, 2, 2, 1])
    images = [
        ("analyze.hdr", nibabel.AnalyzeImage(ramp.astype(numpy.int16) - 20, zooms)),
        ("float.hdr", nibabel.AnalyzeImage(ramp.astype(numpy.float32) / 7, zooms)),
        ("pair.img", nibabel.Nifti1Pair(ramp.astype(numpy.uint8), numpy.eye(4))),
        ("pairgz.img.gz", nibabel.Nifti1Pair(ramp.astype(numpy.int16) * 50, zooms)),
    ]
    scaled = nibabel.Spm2AnalyzeImage((ramp * 0.25 + 3).astype(numpy.float32), zooms)
    scaled.set_data_dtype(numpy.int16)  # nibabel stores a slope and an intercept for it
    images.append(("spm.hdr", scaled))
    for name, image in images:
        path = sweep.file(name)
        nibabel.save(image, path)
        mat = os.path.splitext(path)[0] + ".mat"
        if os.path.exists(mat):
            os.remove(mat)  # SPM's own affine: the converter reads the header alone
        nibabel_check(sweep, path)
        other = path.replace(".hdr", ".img") if ".hdr" in name else path.replace(".img", ".hdr")
        nibabel_check(sweep, other)


def npz_files(sweep):
    """NumPy's savez and savez_compressed: one array, and several picked by name."""
    shape = (3, 4, 5)  # z, y, x
    ramp = numpy.arange(numpy.prod(shape)).reshape(shape)
    arrays = {"grey": ramp.astype(">i2") - 7, "wide": (ramp / 3).astype("<f8"),
              "rgb": (numpy.stack([ramp, ramp * 2, ramp * 3], axis=-1) % 256).astype(numpy.uint8)}
    for save in (numpy.savez, numpy.savez_compressed):
        path = sweep.file(save.__name__ + ".npz")
        save(path, **arrays)
        refuse(sweep, path, "an .npz of arrays grey, rgb, wide: pick one with --dataset NAME")
        for name, array in arrays.items():
            volume = numpy.load(path)[name].astype(numpy.float64)
            cube = volume.transpose(2, 1, 0) if volume.ndim == 3 else volume.transpose(2, 1, 0, 3)
            check(sweep, path, [(["--dataset", name], cube)], "array",
                        copied=array.dtype == numpy.uint8)
        one = sweep.file("one-" + save.__name__ + ".npz")
        save(one, arrays["grey"])
        check(sweep, one, [([], arrays["grey"].astype(numpy.float64).transpose(2, 1, 0))], "array")


def fits_check(sweep, path, extra=(), hdu=None):
    with fits.open(path) as hdul:
        picked = hdul[hdu] if hdu is not None else next(h for h in hdul if h.data is not None)
        data = numpy.array(picked.data, dtype=numpy.float64)
        copied = picked.data.dtype == numpy.uint8
    if data.ndim == 4:
        data = data[0]
    check(sweep, path, [(list(extra), data.transpose(2, 1, 0))], "own", copied=copied)


def fits_files(sweep):
    """astropy's FITS in every BITPIX, its unsigned conventions, scaled integers, BLANK, tile
    compression, gzip, and a file of several cubes picked with --dataset."""
    shape = (3, 4, 5)  # NAXIS3, NAXIS2, NAXIS1
    ramp = numpy.arange(numpy.prod(shape)).reshape(shape)
    arrays = {
        "uint8": (ramp * 4).astype(numpy.uint8),
        "int16": (ramp * 1111 - 30000).astype(numpy.int16),
        "int32": (ramp * 40000000 - 2000000000).astype(numpy.int32),
        "int64": (ramp * 10**15 - 3 * 10**16).astype(numpy.int64),
        "float32": (ramp * 0.37 - 4).astype(numpy.float32),
        "float64": (ramp / 7 - 1e3).astype(numpy.float64),
        "uint16": (ramp * 1000).astype(numpy.uint16),  # BITPIX 16, BZERO 32768
        "uint32": (ramp * 70000000).astype(numpy.uint32),  # BITPIX 32, BZERO 2^31
        "int8": (ramp * 7 % 256 - 128).astype(numpy.int8),  # BITPIX 8, BZERO -128
    }
    for name, array in arrays.items():
        for suffix in (".fits", ".fits.gz"):
            path = sweep.file(name + suffix)
            fits.PrimaryHDU(array).writeto(path, overwrite=True)
            fits_check(sweep, path)
    scaled = fits.PrimaryHDU((ramp * 0.25 + 3).astype(numpy.float32))
    scaled.scale("int16", bscale=0.25, bzero=3)
    scaled.writeto(sweep.file("scaled.fits"), overwrite=True)
    fits_check(sweep, sweep.file("scaled.fits"))
    blank = fits.PrimaryHDU((ramp - 7).astype(numpy.int16))
    blank.header["BLANK"] = -7
    blank.writeto(sweep.file("blank.fits"), overwrite=True)
    fits_check(sweep, sweep.file("blank.fits"))
    fourth = fits.PrimaryHDU(arrays["float32"][numpy.newaxis])
    fourth.writeto(sweep.file("naxis4.fits"), overwrite=True)
    fits_check(sweep, sweep.file("naxis4.fits"))
    for kind in ("RICE_1", "GZIP_1", "GZIP_2"):
        path = sweep.file(kind + ".fits")
        fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(arrays["int16"], compression_type=kind)
                      ]).writeto(path, overwrite=True)
        fits_check(sweep, path, hdu=1)
    several = sweep.file("several.fits")
    fits.HDUList([fits.PrimaryHDU(), fits.ImageHDU(arrays["int16"], name="SCI"),
                  fits.ImageHDU(arrays["float32"], name="ERR")]).writeto(several, overwrite=True)
    refuse(sweep, several, "a FITS file of several cubes, HDU 1 (SCI) 3-D 5 x 4 x 3, HDU 2 (ERR) "
                          "3-D 5 x 4 x 3: pick one with --dataset N")
    fits_check(sweep, several, ["--dataset", "1"], hdu=1)
    fits_check(sweep, several, ["--dataset", "ERR"], hdu=2)


def wcs_reference(header):
    """The spacing astropy's WCS gives along the cube's three axes (the length of each column
    of its pixel scale matrix, each world axis in a common unit) and that unit, or None where
    the world axes' units do not compare."""
    wcs = WCS(header)
    matrix = wcs.pixel_scale_matrix[:, :3]
    rows = [i for i in range(matrix.shape[0]) if numpy.any(matrix[i] != 0)]
    names = [str(wcs.wcs.cunit[i]) for i in rows]
    if all(name == "" for name in names):
        return numpy.sqrt((matrix ** 2).sum(axis=0)), None
    if any(name == "" for name in names):
        return None
    common = units.Unit(names[0])
    try:
        scales = numpy.array([units.Unit(name).to(common) for name in names])
    except units.UnitConversionError:
        return None
    return numpy.sqrt(((matrix[rows] * scales[:, numpy.newaxis]) ** 2).sum(axis=0)), common


def wcs_check(sweep, path, header):
    """info's spacing against astropy's WCS: the same lengths in a unit that converts, or none
    where the axes' units differ."""
    info = sweep.run("info", path, "--pad")
    line = next((l for l in info.stdout.splitlines() if l.strip().startswith("spacing")), "")
    shown = line.split(None, 1)[1] if line else ""
    reference = wcs_reference(header)
    if reference is None:
        if "the world axes' units differ" not in shown:
            sweep.problem("%s: spacing %r, astropy's axes' units differ" % (path, shown))
        return
    lengths, unit = reference
    parts = shown.replace(",", " ").split()
    try:
        values = numpy.array([float(v) for v in parts[:3]])
        if unit is not None:
            values = values * units.Unit(parts[3]).to(unit)
        good = len(parts) == (3 if unit is None else 4) and numpy.allclose(values, lengths,
                                                                            rtol=1e-5)
    except (ValueError, IndexError, units.UnitsError):
        good = False
    sweep.tally(None if good else "%s: spacing %r, astropy's %s %s" % (path, shown, lengths,
                                                                         unit))


def fits_wcs_files(sweep):
    """astropy-written cubes with CDELT, with PC and CD matrices, in units that compare
    (converted between arcmin and degrees, millimetres and metres) and in units that do not."""
    shape = (3, 4, 5)
    ramp = (numpy.arange(numpy.prod(shape)).reshape(shape) * 3 - 20).astype(numpy.int16)
    celestial = {"CTYPE1": "RA---TAN", "CTYPE2": "DEC--TAN"}
    headers = {
        "cdelt": {"CDELT1": 0.5, "CDELT2": -0.25, "CDELT3": 2.0},
        "frequency": dict(celestial, CDELT1=-1e-3, CDELT2=1e-3, CTYPE3="FREQ", CUNIT3="Hz",
                          CDELT3=1e6),
        "velocity": dict(celestial, CDELT1=-1e-3, CDELT2=1e-3, CTYPE3="VRAD", CUNIT3="km/s",
                         CDELT3=2.5),
        "cd": dict(celestial, CD1_1=-1e-3, CD1_2=2e-4, CD2_1=2e-4, CD2_2=1e-3, CD3_3=5e-4,
                   CUNIT3="deg"),
        "pc": dict(celestial, CUNIT1="arcmin", CDELT1=3.0, CDELT2=0.05, PC1_2=0.5, PC2_1=0.25,
                   CUNIT3="deg", CDELT3=0.1),
        "lengths": {"CDELT1": 1.0, "CDELT2": 1.0, "CDELT3": 0.5, "CUNIT1": "mm", "CUNIT2": "mm",
                    "CUNIT3": "cm"},
        "arcsec": {"CDELT1": 2.0, "CDELT2": 3.0, "CDELT3": 4.0, "CUNIT1": "arcsec",
                   "CUNIT2": "arcsec", "CUNIT3": "arcsec"},
    }
    for name, cards in headers.items():
        for suffix in (".fits", ".fits.gz"):
            path = sweep.file("wcs-" + name + suffix)
            hdu = fits.PrimaryHDU(ramp)
            hdu.header.update(cards)
            hdu.writeto(path, overwrite=True)
            fits_check(sweep, path)
            wcs_check(sweep, path, hdu.header)


def tiff_level_check(sweep, path, levels):
    """Each level packed with --size SIDE --crop (the level read as it is, cut to the cube of
    its shortest side) against tifffile's own read of it; info must list them all."""
    for k, level in enumerate(levels):
        volume = level.transpose(2, 1, 0)
        mapped = mapping.to_bytes(volume, level.dtype == numpy.uint8)
        side = min(volume.shape)
        start = [(n - side) // 2 for n in volume.shape]
        cut = mapped[start[0]:start[0] + side, start[1]:start[1] + side,
                     start[2]:start[2] + side]
        label = "%s level %d" % (os.path.basename(path), k)
        sweep.check(Case(label, path, mapping.expected_rgb(cut, copied=True),
                         options=("--crop", "--spacing", "1,1,1", "--size", str(side))))
    info = sweep.run("info", path, "--pad")
    listed = [l for l in info.stdout.splitlines() if l.lstrip().startswith("level ")]
    if info.returncode != 0 or info.stderr or len(listed) != len(levels):
        sweep.problem("%s: info gave exit %d, %d levels of %d, %r" % (
            path, info.returncode, len(listed), len(levels), info.stderr))


def tiff_files(sweep):
    """tifffile's pyramids: OME-TIFF with SubIFDs (tiled, deflated), a plain BigTIFF with
    SubIFDs, and reduced pages in the chain itself (SUBFILETYPE 1), each level x and y halved
    and the slices kept, compared with tifffile's series levels."""
    if tifffile is None:
        return
    z, y, x = 32, 32, 32
    ramp = numpy.arange(z * y * x).reshape(z, y, x)
    cases = [
        ("ome.ome.tif", (ramp * 7 % 60000).astype(numpy.uint16), True, True,
         dict(tile=(16, 16), compression="zlib")),
        ("subifds.tif", (ramp * 5 % 256).astype(numpy.uint8), False, True, {}),
        ("chain.tif", (ramp / 3 - 100).astype(numpy.float32), False, False, {}),
    ]
    for name, data, ome, subifds, options in cases:
        path = sweep.file(name)
        reduced = [data[:, ::2, ::2], data[:, ::4, ::4]]
        with tifffile.TiffWriter(path, bigtiff=True, ome=ome) as tif:
            tif.write(data, subifds=len(reduced) if subifds else None, photometric="minisblack",
                      metadata={"axes": "ZYX"} if ome else None, **options)
            for level in reduced:
                tif.write(level, subfiletype=1, photometric="minisblack", **options)
        with tifffile.TiffFile(path) as tif:
            levels = [numpy.asarray(level.asarray()) for level in tif.series[0].levels]
        if len(levels) != 3:
            sweep.problem("%s: tifffile reads %d levels" % (name, len(levels)))
        tiff_level_check(sweep, path, levels)


def vtk_files(sweep):
    """VTK's own legacy writer, binary and ASCII, of every scalar type it writes that the
    converter reads, with 1 to 4 components, read back through VTK's legacy reader."""
    if vtk is None:
        return
    shape = (3, 4, 5)  # z, y, x
    types = ["uint8", "int8", "uint16", "int16", "uint32", "int32", "float32", "float64"]
    for name in types:
        for components in (1, 2, 3, 4):
            ramp = numpy.arange(numpy.prod(shape) * components)
            values = (ramp * 37 % 200 - (100 if name.startswith("int") else 0)).astype(name)
            if name.startswith("float"):
                values = values / 3
            image = vtk.vtkImageData()
            image.SetDimensions(shape[2], shape[1], shape[0])
            image.SetSpacing(1, 1, 1)
            array = numpy_support.numpy_to_vtk(values.reshape(-1, components), deep=True)
            image.GetPointData().SetScalars(array)
            for binary in (True, False):
                path = sweep.file("%s-%d-%s.vtk" % (name, components, "binary" if binary else "ascii"))
                writer = vtk.vtkStructuredPointsWriter()
                writer.SetInputData(image)
                writer.SetFileName(path)
                writer.SetFileTypeToBinary() if binary else writer.SetFileTypeToASCII()
                writer.Write()
                vtk_check(sweep, path)


def vti_files(sweep):
    """VTK's XML image writer in every data mode (ASCII, inline base64, appended raw or
    base64), every compressor and both header types, of several types with 1 and 3 components,
    non-unit spacing and an extent that starts away from 0, in blocks smaller than a slice;
    read back through VTK's XML image reader."""
    if vtk is None:
        return
    extent = (2, 6, -1, 2, 3, 5)  # 5 x 4 x 3
    count = 5 * 4 * 3
    compressors = {"none": None, "zlib": vtk.vtkZLibDataCompressor,
                   "lz4": vtk.vtkLZ4DataCompressor, "lzma": vtk.vtkLZMADataCompressor}
    modes = [("ascii", False)] + [(mode, False) for mode in ("binary", "appended")] + [
        ("appended", True)]
    for name in ("uint8", "int16", "float32", "float64"):
        for components in (1, 3):
            ramp = numpy.arange(count * components)
            values = (ramp * 37 % 200 - (100 if name.startswith("int") else 0)).astype(name)
            if name.startswith("float"):
                values = values / 3
            image = vtk.vtkImageData()
            image.SetExtent(*extent)
            image.SetSpacing(0.5, 1.5, 2)
            image.SetOrigin(1, -2, 3)
            image.GetPointData().SetScalars(
                numpy_support.numpy_to_vtk(values.reshape(-1, components), deep=True))
            for mode, encoded in modes:
                for compressor in (["none"] if mode == "ascii" else compressors):
                    for header in ("UInt32", "UInt64"):
                        path = sweep.file("%s-%d-%s%s-%s-%s.vti" % (
                            name, components, mode, "-base64" if encoded else "", compressor,
                            header))
                        vti_write(image, path, mode, encoded, compressors[compressor], header)
                        vtk_check(sweep, path, vtk.vtkXMLImageDataReader)


def vti_write(image, path, mode, encoded, compressor, header):
    writer = vtk.vtkXMLImageDataWriter()
    writer.SetInputData(image)
    writer.SetFileName(path)
    {"ascii": writer.SetDataModeToAscii, "binary": writer.SetDataModeToBinary,
     "appended": writer.SetDataModeToAppended}[mode]()
    writer.SetEncodeAppendedData(encoded)
    if compressor is None:
        writer.SetCompressorTypeToNone()
    else:
        writer.SetCompressor(compressor())
    writer.SetBlockSize(48)  # several blocks to a slice, and blocks across slices
    writer.SetHeaderTypeToUInt32() if header == "UInt32" else writer.SetHeaderTypeToUInt64()
    if not writer.Write():
        raise RuntimeError("vtkXMLImageDataWriter failed on " + path)


def vtk_check(sweep, path, kind=None):
    reader = (kind or vtk.vtkStructuredPointsReader)()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    nx, ny, nz = image.GetDimensions()
    scalars = image.GetPointData().GetScalars()
    data = numpy_support.vtk_to_numpy(scalars).astype(numpy.float64)
    components = scalars.GetNumberOfComponents()
    volume = data.reshape(nz, ny, nx, components).transpose(2, 1, 0, 3)
    copied = scalars.GetDataTypeAsString() == "unsigned char"
    if components == 1:
        volume = volume[..., 0]
    extra = []
    if components == 4:  # RGBA colours drop their alpha; four scalars need three picked
        volume = volume[..., :3]
        extra = [] if copied else ["--channels", "0,1,2"]
    check(sweep, path, [(extra, volume)], "own", copied=copied)


NIBABEL_DATA = "/usr/lib/python3/dist-packages/nibabel/tests/data"


def nibabel_data(sweep):
    """nibabel's own test files of these formats: an MGZ of two frames, and pair headers that
    it ships without their images, which must be refused as such."""
    if not os.path.isdir(NIBABEL_DATA):
        return
    nibabel_check(sweep, os.path.join(NIBABEL_DATA, "test.mgz"))
    for name in ("analyze.hdr", "nifti1.hdr", "nifti2.hdr"):
        refuse(sweep, os.path.join(NIBABEL_DATA, name), "without its .img beside it")

def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [mrc_files, mgh_files, analyze_files, npz_files, fits_files, fits_wcs_files,
            tiff_files, vtk_files, vti_files, nibabel_data]
