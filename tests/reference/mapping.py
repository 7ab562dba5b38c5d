"""The converter's mapping of samples to 8-bit RGB (docs/converter.md, "From samples to RGB"),
the one copy that every sweep and fixture compares against.

Unsigned 8-bit samples are copied. Any other type goes linearly through a window, by default
the range of the finite samples of all channels together: round(255 (v - LO) / (HI - LO)),
halves rounded up as the converter rounds them, clamped to 0..255, NaN black. LO = HI is a
step: up to LO black, above it full. One channel is grey, two fill red and green, three or more
fill red, green and blue in order.
"""
import numpy


def value_range(values):
    """(LO, HI) of the finite samples, or None where there is none."""
    values = numpy.asarray(values, dtype=numpy.float64)
    finite = values[numpy.isfinite(values)]
    if finite.size == 0:
        return None
    return float(finite.min()), float(finite.max())


def windowed(values, lo, hi):
    """values through the window LO..HI as float64 bytes; NaN and anything below LO black."""
    values = numpy.asarray(values, dtype=numpy.float64)
    with numpy.errstate(invalid="ignore", divide="ignore"):
        if not hi > lo:
            return numpy.where(values > lo, 255.0, 0.0)
        x = 255 * (values - lo) / (hi - lo)
        return numpy.where(x >= 254.5, 255.0, numpy.where(x > 0, numpy.floor(x + 0.5), 0.0))


def to_bytes(values, copied=False, window=None):
    """The samples as the converter's bytes (float64, for comparing): copied where the input's
    samples are unsigned 8-bit, else through window (LO, HI) or the finite samples' range."""
    if copied:
        return numpy.asarray(values, dtype=numpy.float64)
    if window is None:
        window = value_range(values)
        if window is None:
            return numpy.zeros(numpy.shape(values))
    return windowed(values, *window)


def as_rgb(channels):
    """Mapped samples (x, y, z, c) as the RGB cube (x, y, z, 3) their channels fill."""
    rgb = numpy.zeros(channels.shape[:3] + (3,))
    count = min(channels.shape[3], 3)
    rgb[..., :count] = channels[..., :count]
    if channels.shape[3] == 1:
        rgb[..., 1] = rgb[..., 2] = channels[..., 0]
    return rgb


def expected_rgb(volume, copied=False, window=None):
    """The RGB cube before padding the converter makes of a volume (x, y, z) or (x, y, z, c),
    all channels over one range."""
    volume = numpy.asarray(volume)
    channels = volume if volume.ndim == 4 else volume[..., numpy.newaxis]
    return as_rgb(to_bytes(channels, copied, window))
