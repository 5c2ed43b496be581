"""Filtering a PIL.Image.Image or a numpy array instead of a file.

The pixels go to the package's private module (_native) as they lie in
memory: a numpy array at its own strides (views, read-only and Fortran-order
arrays included), a PIL image as its bytes. The module widens them to the
filters' RGBA and narrows the result back in C. Nothing here imports Pillow
or numpy: an object is recognised by the modules its caller already
imported, so they are needed only by callers who pass such objects.

PIL modes become RGB or RGBA as Pillow converts them, alpha kept: RGBA, LA
and PA, P or L with a transparent colour, and the premultiplied RGBa and La,
which Pillow un-premultiplies (so the result is RGBA). Modes of 16-bit
integers (I;16, I;16L, I;16B, and I holding 0..65535) are scaled to 8
bits with rounding, never clipped; F, whose floats have no set range, is
refused. Colour spaces that are not RGB (YCbCr, LAB, HSV, CMYK) are
converted to RGB by Pillow, never read as if they were RGB.
"""

import ctypes
import sys

from . import _native

# Modes with alpha, and the Pillow mode that carries it into RGBA; the
# premultiplied ones are un-premultiplied on the way.
_ALPHA_MODES = {"RGBA": "RGBA", "RGBa": "RGBA", "LA": "LA", "La": "LA", "PA": "PA"}
_SIXTEEN_BIT_MODES = ("I;16", "I;16L", "I;16B", "I")


def _pil_image_class():
    module = sys.modules.get("PIL.Image")
    return getattr(module, "Image", None) if module else None


def _numpy_array_class():
    module = sys.modules.get("numpy")
    return getattr(module, "ndarray", None) if module else None


def is_pixels(value):
    """True for a PIL image or a numpy array."""
    for kind in (_pil_image_class(), _numpy_array_class()):
        if kind is not None and isinstance(value, kind):
            return True
    return False


class Source:
    """Pixels ready for the module, where to put its result and how to hand
    the result back as the caller's kind of object."""

    def __init__(self, pixels, keep_alive, new_result):
        self.pixels = pixels
        self._keep_alive = keep_alive
        self._new_result = new_result

    def result(self):
        """(address for the module to fill, function giving the object once it is filled)."""
        return self._new_result()


def prepare(value, filter_name, refusal):
    """The Source for a PIL image or a numpy array. A shape outside the
    library's limits is refused before any work, by refusal(message), which
    raises."""
    pil_image = _pil_image_class()
    if pil_image is not None and isinstance(value, pil_image):
        return _from_pil(value, filter_name, refusal)
    return _from_numpy(value, filter_name, refusal)


def _check_size(filter_name, what, width, height, refusal):
    message = _native.module().check_size(filter_name, what, width, height)
    if message is not None:
        refusal(message)


def _from_numpy(array, filter_name, refusal):
    if array.dtype.name != "uint8":
        raise TypeError(f"imgfilter: a numpy image must have dtype uint8, not {array.dtype}")
    if array.ndim != 3 or array.shape[2] not in (3, 4):
        raise ValueError(f"imgfilter: a numpy image must have shape (H, W, 3) or (H, W, 4), not {array.shape}")
    height, width, channels = array.shape
    _check_size(filter_name, f"array of shape {array.shape}", width, height, refusal)
    pixels = _native.Pixels(array.ctypes.data, height, width, *array.strides, channels,
                            f"array of shape {array.shape}".encode("ascii"))

    def new_result():
        result = sys.modules["numpy"].empty((height, width, channels), dtype="uint8")
        return result.ctypes.data, lambda: result

    return Source(pixels, array, new_result)


def _from_pil(image, filter_name, refusal):
    width, height = image.size
    what = f"PIL image of mode {image.mode} and size {width}x{height}"
    _check_size(filter_name, what, width, height, refusal)
    image = _as_rgb_or_rgba(image)
    channels = len(image.mode)
    data = image.tobytes()
    pixels = _native.Pixels(ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value, height, width,
                            width * channels, channels, 1, channels, what.encode("utf-8", "replace"))

    def new_result():
        out = bytearray(width * height * channels)
        address = ctypes.addressof((ctypes.c_char * len(out)).from_buffer(out))
        return address, lambda: sys.modules["PIL.Image"].frombytes(image.mode, (width, height), bytes(out))

    return Source(pixels, data, new_result)


def _as_rgb_or_rgba(image):
    mode = image.mode
    if mode == "RGBA" or (mode == "RGB" and "transparency" not in image.info):
        return image
    if mode in _ALPHA_MODES:
        return image.convert(_ALPHA_MODES[mode]).convert("RGBA")
    if mode in _SIXTEEN_BIT_MODES:
        return _scaled_to_eight_bits(image).convert("RGB")
    if mode == "F":
        raise TypeError("imgfilter: a PIL image of mode F holds floats, which have no range to scale to 8 bits; "
                        "convert it to L or RGB first")
    try:
        return image.convert("RGBA" if "transparency" in image.info else "RGB")
    except ValueError as error:
        raise TypeError(f"imgfilter: a PIL image of mode {mode} cannot be converted to RGB ({error})") from None


def _scaled_to_eight_bits(image):
    """An L image of the 16-bit values scaled by 255/65535, rounded half up."""
    if image.mode == "I":
        low, high = image.getextrema()
        if low < 0 or high > 65535:
            raise TypeError(f"imgfilter: a PIL image of mode I is scaled to 8 bits from 0..65535; this one holds "
                            f"{low}..{high}, outside that range")
    else:
        image = image.convert("I")
    return image.point(lambda value: value * (255 / 65535) + 0.5).convert("L")
