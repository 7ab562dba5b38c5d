"""Writes one asymmetric phantom through each format's own writer, in several frames, packs
every file and compares the volume with the orientation rule exactly: a file placed in a
patient's frame turned to the axes closest to LAS+ (nibabel's io_orientation), one placed
nowhere shown with each slice's first row at the top. DICOM series are also converted by
dcm2niix, and the NIfTI it writes must pack to the very samples the series packs to.

The reference directions come from each file's own fields as its library reads them back
(nibabel's affine, pydicom's Image Orientation and Position (Patient)), or, for the formats
written by hand here, from the header text as written.
"""

import itertools
import os
import random
import subprocess
import warnings

import numpy
from nibabel import orientations

from .. import mapping, runner
from ..orientation import ARRAY, world_turn

TITLE = "Orientation"
REFERENCE = "each format's own writer and reader"
TIMEOUT = 60

warnings.simplefilter("ignore")

# The file's axes i, j, k: every length distinct, so that a swap of two axes changes the shape.
SHAPE = (7, 6, 5)
# Bright voxels near a corner and off every symmetry plane.
MARKERS = [(0, 0, 0), (1, 0, 0), (0, 2, 0), (0, 0, 3), (6, 5, 1)]
LPS_TO_RAS = numpy.array([-1.0, -1, 1])


def phantom():
    """phantom[i, j, k]: uint8, every voxel its own value and none 0, the padding's value."""
    values = numpy.arange(1, numpy.prod(SHAPE) + 1).reshape(SHAPE, order="F")
    for n, at in enumerate(MARKERS):
        values[at] = 250 + n
    assert values.max() < 256 and len(numpy.unique(values)) == values.size
    return values.astype(numpy.uint8)


def as_zyx(volume):
    """The phantom as an array a[z, y, x] of C order, x the file's i."""
    return numpy.ascontiguousarray(volume.transpose(2, 1, 0))


def signed_permutations():
    for axes in itertools.permutations(range(3)):
        for flips in itertools.product((1, -1), repeat=3):
            yield numpy.array([[a, f] for a, f in zip(axes, flips)])


def turn_words(turn):
    """'x = -i, y = k, z = j': which file axis each of the volume's axes is."""
    words = {}
    for axis, (to, flip) in enumerate(turn):
        words[int(to)] = "%s%s" % ("-" if flip < 0 else "", "ijk"[axis])
    return ", ".join("%s = %s" % ("xyz"[a], words[a]) for a in range(3))


def find(cube, volume):
    """The turn and the corner at which volume[i, j, k] lies in cube, or (None, None)."""
    n = cube.shape[0]
    for turn in signed_permutations():
        turned = orientations.apply_orientation(volume, turn)
        size = turned.shape[:3]
        for corner in itertools.product(*(range(n - s + 1) for s in size)):
            box = tuple(slice(c, c + s) for c, s in zip(corner, size))
            if numpy.array_equal(cube[box], turned):
                return turn, corner
    return None, None


def difference(cube, volume, turn):
    """How the packed cube differs from the volume turned by turn, in words."""
    found, corner = find(cube, volume)
    if found is None:
        return "samples differ from the phantom in every turn of its axes"
    if numpy.array_equal(found, turn):
        return "turned right, but placed at corner %s, not where --pad centres it" % (corner,)
    if all(found[a][0] == turn[a][0] for a in range(3)):
        mirrored = [int(turn[a][0]) for a in range(3) if found[a][1] != turn[a][1]]
        return "mirrored in " + ", ".join("xyz"[a] for a in sorted(mirrored))
    return "turned as %s, expected %s" % (turn_words(found), turn_words(turn))


class Phantom:
    """The phantom, and what its sweep found beyond the runner's counts: the writers whose
    files were compared and the DICOM series that packed as dcm2niix's NIfTI of them."""

    def __init__(self):
        self.volume = phantom()
        self.writers, self.twins = set(), 0


PHANTOM = Phantom()


def check(sweep, writer, label, path, volume, turn, extra=()):
    """Packs path and compares it exactly with volume[i, j, k] or volume[i, j, k, colour] (the
    file's axes as its library reads them back) turned by turn; returns the cube where it
    matched. A mismatch is told in words: which turn or mirror the pack made instead."""
    PHANTOM.writers.add(writer)
    label = "%s (%s, %s)" % (os.path.basename(path.rstrip("/")), writer, label)
    rgb = volume if volume.ndim == 4 else numpy.repeat(volume[..., numpy.newaxis], 3, axis=3)
    case = runner.Case(label, path, rgb, turn, tuple(extra), tolerance=0, quiet=False)
    cube = sweep.pack(case)
    if cube is None:
        return None
    problem = runner.difference(cube, case)
    sweep.tally(problem and "%s: %s" % (label, difference(cube, rgb, turn)))
    return None if problem else cube


# NIfTI through nibabel: the frames of the affine, as sform, as qform, as both, or as an sform
# over a qform that says otherwise.
def rotation_z(degrees):
    t = numpy.radians(degrees)
    return numpy.array([[numpy.cos(t), -numpy.sin(t), 0], [numpy.sin(t), numpy.cos(t), 0],
                        [0, 0, 1]])


NIFTI_FRAMES = {
    "RAS": numpy.eye(3),
    "LPS": numpy.diag([-1.0, -1, 1]),
    "sagittal": numpy.array([[0, 0, -1.0], [1, 0, 0], [0, -1, 0]]),  # columns: i, j, k in RAS
    "coronal": numpy.array([[-1.0, 0, 0], [0, 0, 1], [0, -1, 0]]),
    "oblique": rotation_z(20) @ numpy.diag([-1.0, 1, 1]),
}


def nifti_files(sweep):
    import nibabel

    def affine_of(matrix):
        affine = numpy.eye(4)
        affine[:3, :3] = matrix
        affine[:3, 3] = [-3, 4, 10]
        return affine

    other = affine_of(NIFTI_FRAMES["coronal"])
    for (name, matrix), storage, suffix in itertools.product(
            NIFTI_FRAMES.items(), ("sform", "qform", "both", "sform-over-qform"),
            (".nii", ".nii.gz")):
        if suffix == ".nii.gz" and storage != "both":
            continue
        affine = affine_of(matrix)
        image = nibabel.Nifti1Image(PHANTOM.volume, None)
        image.set_sform(affine if storage != "qform" else numpy.eye(4),
                        code=0 if storage == "qform" else 1)
        qform = {"qform": affine, "both": affine, "sform-over-qform": other}.get(storage)
        image.set_qform(numpy.eye(4) if qform is None else qform, code=0 if qform is None else 1)
        path = sweep.file("%s-%s%s" % (name, storage, suffix))
        nibabel.save(image, path)
        back = nibabel.load(path)
        data = numpy.asarray(back.dataobj)
        words = {"sform": "the sform", "qform": "the qform", "both": "sform and qform",
                 "sform-over-qform": "the sform over another qform"}[storage]
        check(sweep, "nibabel", "%s in %s" % (name, words), path, data,
                    world_turn(back.affine[:3, :3].T))


def nibabel_other_files(sweep):
    """NIfTI-2 and FreeSurfer's MGZ, whose direction cosines nibabel writes from the affine."""
    import nibabel

    for name, matrix in (("sagittal", NIFTI_FRAMES["sagittal"]),
                         ("oblique", NIFTI_FRAMES["oblique"])):
        affine = numpy.eye(4)
        affine[:3, :3] = matrix
        for kind, suffix in ((nibabel.Nifti2Image, ".nii"), (nibabel.MGHImage, ".mgz")):
            path = sweep.file("%s-%s%s" % (name, kind.__name__, suffix))
            nibabel.save(kind(PHANTOM.volume, affine), path)
            back = nibabel.load(path)
            check(sweep, "nibabel", "%s %s" % (kind.__name__, name), path,
                        numpy.asarray(back.dataobj), world_turn(back.affine[:3, :3].T))


# DICOM through pydicom: one file a slice, named at random, written last slice first.
# Each frame: the row and column cosines in LPS+ and the step from slice to slice.
DICOM_FRAMES = {
    "axial": ([1, 0, 0], [0, 1, 0], [0, 0, 1]),
    "axial-feet-first": ([1, 0, 0], [0, -1, 0], [0, 0, -1]),
    "axial-descending": ([1, 0, 0], [0, 1, 0], [0, 0, -1]),
    "coronal": ([1, 0, 0], [0, 0, -1], [0, -1, 0]),
    "sagittal": ([0, 1, 0], [0, 0, -1], [-1, 0, 0]),
    "ct-16-bit": ([1, 0, 0], [0, 1, 0], [0, 0, 1]),
}


def to_bytes(values):
    """The converter's 8 bits of a file's values, as bytes."""
    return mapping.to_bytes(values, values.dtype == numpy.uint8).astype(numpy.uint8)


def ct_values(volume):
    """A 16-bit CT scan of the phantom whose range maps back onto whole bytes: stored values
    0 to 65535 in steps of 257, the full range of 8 bits once mapped."""
    q = volume.astype(numpy.uint16) - volume.min()
    q[-1, -1, -1] = 255
    return q * 257


def write_series(sweep, name, row, column, step, ct=False):
    import pydicom
    from pydicom.dataset import FileDataset, FileMetaDataset
    from pydicom.uid import CTImageStorage, ExplicitVRLittleEndian, MRImageStorage, generate_uid

    folder = sweep.file(name)
    os.makedirs(folder)
    series = generate_uid(entropy_srcs=[name, "series"])
    study = generate_uid(entropy_srcs=["study"])
    names = random.Random(name).sample(range(16**6), SHAPE[2])
    storage = CTImageStorage if ct else MRImageStorage
    values = ct_values(PHANTOM.volume) if ct else PHANTOM.volume
    for k in reversed(range(SHAPE[2])):
        instance = generate_uid(entropy_srcs=[name, str(k)])
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = storage
        meta.MediaStorageSOPInstanceUID = instance
        meta.TransferSyntaxUID = ExplicitVRLittleEndian
        path = os.path.join(folder, "%06x.dcm" % names[k])
        ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.SOPClassUID, ds.SOPInstanceUID = storage, instance
        ds.StudyInstanceUID, ds.SeriesInstanceUID = study, series
        ds.FrameOfReferenceUID = study
        ds.Modality, ds.PatientName, ds.PatientID = ("CT" if ct else "MR", "Phantom^Orient",
                                                     "ORIENT")
        ds.StudyDate, ds.SeriesDate, ds.StudyTime = "20260101", "20260101", "120000"
        ds.SeriesNumber, ds.InstanceNumber = 1, k + 1
        ds.SeriesDescription = name
        ds.ImageOrientationPatient = [float(v) for v in row + column]
        origin = numpy.array([-3.0, 4, 10])
        ds.ImagePositionPatient = [float(v) for v in origin + k * numpy.array(step, float)]
        ds.PixelSpacing, ds.SliceThickness = [1.0, 1.0], 1.0
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.Rows, ds.Columns = SHAPE[1], SHAPE[0]
        bits = values.dtype.itemsize * 8
        ds.BitsAllocated, ds.BitsStored, ds.HighBit = bits, bits, bits - 1
        ds.PixelRepresentation = 0
        if ct:
            ds.RescaleSlope, ds.RescaleIntercept = 1, -1024
        ds.PixelData = numpy.ascontiguousarray(values[:, :, k].T).astype(values.dtype.newbyteorder(
            "<")).tobytes()
        ds.save_as(path, write_like_original=False)
    assert pydicom.dcmread(path).pixel_array.shape == (SHAPE[1], SHAPE[0])
    return folder


def read_series(folder):
    """The series as pydicom reads it back: volume[i, j, k] with i along the rows' cosines, j
    along the columns', slices stacked by position, and where each axis points in RAS+."""
    import pydicom

    slices = [pydicom.dcmread(os.path.join(folder, f)) for f in os.listdir(folder)]
    cosines = numpy.array(slices[0].ImageOrientationPatient, dtype=numpy.float64).reshape(2, 3)
    normal = numpy.cross(cosines[0], cosines[1])
    slices.sort(key=lambda ds: float(numpy.dot(ds.ImagePositionPatient, normal)))
    volume = numpy.stack([ds.pixel_array.T for ds in slices], axis=2)
    if "RescaleSlope" in slices[0]:
        volume = volume * float(slices[0].RescaleSlope) + float(slices[0].RescaleIntercept)
    positions = numpy.array([ds.ImagePositionPatient for ds in slices], dtype=numpy.float64)
    step = (positions[-1] - positions[0]) / (len(slices) - 1)
    return volume, numpy.array([cosines[0], cosines[1], step]) * LPS_TO_RAS


def dicom_files(sweep):
    """Each series packed itself, and as the NIfTI dcm2niix makes of it: the two volumes equal."""
    import nibabel

    for name, (row, column, step) in DICOM_FRAMES.items():
        folder = write_series(sweep, name, row, column, step, ct=name.startswith("ct"))
        volume, directions = read_series(folder)
        direct = check(sweep, "pydicom", name, folder + "/", to_bytes(volume),
                             world_turn(directions))
        converted = sweep.file("dcm2niix-" + name)
        os.makedirs(converted)
        result = subprocess.run(["dcm2niix", "-z", "n", "-b", "n", "-o", converted, "-f", name,
                                 folder], capture_output=True, text=True, timeout=60)
        nii = os.path.join(converted, name + ".nii")
        if result.returncode != 0 or not os.path.exists(nii):
            sweep.problem("%s: dcm2niix gave exit %d: %s"
                                  % (name, result.returncode, result.stdout[-300:]))
            continue
        back = nibabel.load(nii)
        twin = check(sweep, "dcm2niix", name, nii, to_bytes(numpy.asarray(back.dataobj)),
                           world_turn(back.affine[:3, :3].T))
        if direct is not None and twin is not None:
            if numpy.array_equal(direct, twin):
                PHANTOM.twins += 1
            else:
                sweep.problem("%s: dcm2niix's NIfTI packs to other samples than the "
                                      "series" % name)


# NRRD by hand: the header's space and space directions, the samples raw, i fastest.
NRRD_FRAMES = [
    ("ras-permuted", "right-anterior-superior", [[0, 1, 0], [0, 0, 1], [1, 0, 0]]),
    ("lps-permuted", "left-posterior-superior", [[0, 0, -1], [-1, 0, 0], [0, 1, 0]]),
    ("las-flipped", "left-anterior-superior", [[1, 0, 0], [0, 0, -1], [0, -1, 0]]),
    ("world-permuted", None, [[0, -1, 0], [1, 0, 0], [0, 0, 1]]),
    ("plain", None, None),
]
# Where each anatomical space's x, y, z point in RAS+.
NRRD_SPACES = {"right-anterior-superior": [1, 1, 1], "left-posterior-superior": [-1, -1, 1],
               "left-anterior-superior": [-1, 1, 1]}


def nrrd_files(sweep):
    for name, space, directions in NRRD_FRAMES:
        lines = ["NRRD0004", "type: uint8", "dimension: 3",
                 "sizes: %d %d %d" % SHAPE, "encoding: raw"]
        if space:
            lines.append("space: " + space)
        elif directions:
            lines.append("space dimension: 3")
        if directions:
            lines.append("space directions: " + " ".join(
                "(%s)" % ",".join(str(v) for v in d) for d in directions))
            lines.append("space origin: (1,2,3)")
        path = sweep.file(name + ".nrrd")
        with open(path, "wb") as f:
            f.write(("\n".join(lines) + "\n\n").encode() + PHANTOM.volume.tobytes(order="F"))
        if directions is None:
            turn = ARRAY
        elif space is None:
            turn = world_turn(directions, patient=False)
        else:
            turn = world_turn(numpy.array(directions) * NRRD_SPACES[space])
        check(sweep, "by hand", "space %s" % (space or "none"), path, PHANTOM.volume, turn)
    colours = numpy.stack([PHANTOM.volume, 255 - PHANTOM.volume, PHANTOM.volume // 2], axis=3)
    path = sweep.file("colour.nrrd")
    header = ["NRRD0004", "type: uint8", "dimension: 4", "sizes: 3 %d %d %d" % SHAPE,
              "kinds: RGB-color domain domain domain", "encoding: raw",
              "space: left-posterior-superior",
              "space directions: none (0,0,1) (0,-1,0) (1,0,0)"]
    with open(path, "wb") as f:
        f.write(("\n".join(header) + "\n\n").encode()
                + colours.transpose(3, 0, 1, 2).tobytes(order="F"))
    turn = world_turn(numpy.array([[0, 0, 1], [0, -1, 0], [1, 0, 0]]) * LPS_TO_RAS)
    check(sweep, "by hand", "colours first, space left-posterior-superior", path, colours, turn)


# MetaImage by hand. ITK writes TransformMatrix as the axes' directions in LPS+, one row each,
# and AnatomicalOrientation as the side each axis starts from ("RAI": i runs right to left).
META_FRAMES = [
    ("matrix-permuted", "TransformMatrix = 0 0 1 1 0 0 0 -1 0", None),
    ("matrix-lps", "TransformMatrix = -1 0 0 0 -1 0 0 0 1", None),
    ("orientation-only", "AnatomicalOrientation = PIR", None),
    ("itk-default", None, numpy.eye(3)),
]
OPPOSITE = {"R": "L", "L": "R", "A": "P", "P": "A", "I": "S", "S": "I"}


def meta_directions(field):
    """The RAS+ direction of each axis a MetaImage field gives."""
    key, value = (part.strip() for part in field.split("="))
    if key == "TransformMatrix":
        return numpy.array(value.split(), dtype=numpy.float64).reshape(3, 3) * LPS_TO_RAS
    towards = tuple(OPPOSITE[side] for side in value)
    ornt = orientations.axcodes2ornt(towards)  # the RAS+ axis each file axis runs along
    directions = numpy.zeros((3, 3))
    for axis, (to, flip) in enumerate(ornt):
        directions[axis, int(to)] = flip
    return directions


def metaimage_files(sweep):
    for name, field, default in META_FRAMES:
        lines = ["ObjectType = Image", "NDims = 3", "BinaryData = True",
                 "BinaryDataByteOrderMSB = False", "CompressedData = False",
                 "Offset = 1 2 3", "ElementSpacing = 1 1 1", "DimSize = %d %d %d" % SHAPE,
                 "ElementType = MET_UCHAR"]
        if field:
            lines.insert(5, field)
        lines.append("ElementDataFile = LOCAL")
        path = sweep.file(name + ".mha")
        with open(path, "wb") as f:
            f.write(("\n".join(lines) + "\n").encode() + PHANTOM.volume.tobytes(order="F"))
        directions = default * LPS_TO_RAS if field is None else meta_directions(field)
        check(sweep, "by hand", field or "no direction fields", path, PHANTOM.volume,
                    world_turn(directions))


# Arrays placed nowhere: a[z, y, x] through each library.
def array_files(sweep):
    a = as_zyx(PHANTOM.volume)
    import h5py
    import tifffile
    import zarr
    from PIL import Image

    path = sweep.file("pages.tif")
    tifffile.imwrite(path, a)
    writers = [("tifffile", path, numpy.asarray(tifffile.imread(path)), [])]

    folder = sweep.file("pictures")
    os.makedirs(folder)
    numbers = [1, 2, 9, 10, 11]  # natural order, not the names' byte order
    for z, number in enumerate(numbers):
        Image.fromarray(a[z], mode="L").save(os.path.join(folder, "slice%d.png" % number))
    back = numpy.stack([numpy.asarray(Image.open(os.path.join(folder, "slice%d.png" % n)))
                        for n in numbers])
    writers.append(("PIL", folder + "/", back, []))
    path = sweep.file("array.npy")
    numpy.save(path, a)
    writers.append(("NumPy", path, numpy.load(path), []))
    path = sweep.file("array.zarr")
    zarr.save(path, a)
    writers.append(("zarr", path, numpy.asarray(zarr.open(path, mode="r")), []))
    path = sweep.file("array.h5")
    with h5py.File(path, "w") as f:
        f.create_dataset("phantom", data=a, chunks=(2, 3, 4))
    with h5py.File(path, "r") as f:
        back = numpy.asarray(f["phantom"])
    writers.append(("h5py", path, back, ["--dataset", "/phantom"]))
    for writer, path, back, extra in writers:
        check(sweep, writer, "array", path, back.transpose(2, 1, 0), ARRAY, extra)


def summary(sweep):
    """The writers compared and the DICOM series twins, for the summary line."""
    sweep.notes.append("writers %s" % ", ".join(sorted(PHANTOM.writers)))
    sweep.notes.append("%d DICOM series packed the same as dcm2niix's NIfTI of them"
                       % PHANTOM.twins)


def parts(arguments):
    """The functions that hand the sweep its cases."""
    return [nifti_files, nibabel_other_files, dicom_files, nrrd_files, metaimage_files,
            array_files, summary]
