"""Filtering a PIL.Image.Image or a numpy array instead of a file.

The pixels go to the library through a private temporary directory: in as a
PNG (lossless, alpha included, so the library decodes exactly these pixels)
and out as the library's 32-bit BMP, read back byte for byte. Nothing here
imports Pillow or numpy: an object is recognised by the modules its caller
already imported, so they are needed only by callers who pass such objects.
"""

import struct
import sys
import zlib


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


class Pixels:
    """Rows of 8-bit RGB or RGBA, top row first, and where they came from."""

    def __init__(self, width, height, channels, data, source):
        self.width, self.height, self.channels, self.data, self.source = width, height, channels, data, source


def from_object(value):
    """The pixels of a PIL image (other modes are converted to RGB, or RGBA
    when they carry transparency) or of a numpy uint8 array (H, W, 3|4)."""
    pil_image = _pil_image_class()
    if pil_image is not None and isinstance(value, pil_image):
        image = value
        if image.mode not in ("RGB", "RGBA"):
            has_alpha = "A" in image.getbands() or "transparency" in image.info
            image = image.convert("RGBA" if has_alpha else "RGB")
        width, height = image.size
        return Pixels(width, height, len(image.mode), image.tobytes(), "pil")
    array = value
    if array.dtype.name != "uint8":
        raise TypeError(f"imgfilter: a numpy image must have dtype uint8, not {array.dtype}")
    if array.ndim != 3 or array.shape[2] not in (3, 4):
        raise ValueError(f"imgfilter: a numpy image must have shape (H, W, 3) or (H, W, 4), not {array.shape}")
    height, width, channels = array.shape
    module = sys.modules["numpy"]
    return Pixels(width, height, channels, module.ascontiguousarray(array).tobytes(), "numpy")


def to_object(pixels):
    """The same kind of object as the input was, holding these pixels."""
    if pixels.source == "pil":
        image_module = sys.modules["PIL.Image"]
        return image_module.frombytes("RGBA" if pixels.channels == 4 else "RGB", (pixels.width, pixels.height),
                                      bytes(pixels.data))
    module = sys.modules["numpy"]
    flat = module.frombuffer(bytes(pixels.data), dtype=module.uint8)
    return flat.reshape(pixels.height, pixels.width, pixels.channels).copy()


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(pixels):
    """A PNG file of the pixels, every row unfiltered."""
    if pixels.width < 1 or pixels.height < 1:
        raise ValueError("imgfilter: an image needs at least one pixel")
    stride = pixels.width * pixels.channels
    data = memoryview(pixels.data)
    rows = b"".join(b"\0" + data[y * stride:(y + 1) * stride] for y in range(pixels.height))
    colour_type = 6 if pixels.channels == 4 else 2
    header = struct.pack(">IIBBBBB", pixels.width, pixels.height, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", header) + _chunk(b"IDAT", zlib.compress(rows, 1))
            + _chunk(b"IEND", b""))


def read_library_bmp(data, channels, source):
    """The pixels of a BMP the library wrote (32 bits, bottom-up, BGRA),
    keeping channels of them (3 drops the alpha)."""
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    if bits != 32 or width < 1 or height == 0:
        raise ValueError("imgfilter: unexpected BMP from the library")
    top_down = height < 0
    height = abs(height)
    stride = width * 4
    body = memoryview(data)[offset:offset + stride * height]
    rows = range(height) if top_down else range(height - 1, -1, -1)
    bgra = b"".join(body[y * stride:(y + 1) * stride] for y in rows)
    out = bytearray(width * height * channels)
    out[0::channels] = bgra[2::4]
    out[1::channels] = bgra[1::4]
    out[2::channels] = bgra[0::4]
    if channels == 4:
        out[3::4] = bgra[3::4]
    return Pixels(width, height, channels, out, source)
