"""Python binding of the imgfilter library: one function per filter.

    import imgfilter
    imgfilter.blur("in.jpg", "out.png", radius=2.0)
    sharper = imgfilter.sharpen(pil_image, amount=1.5)      # a PIL.Image.Image
    edges = imgfilter.edge_detect(numpy_rgb_array)          # a numpy (H, W, 3) array

Every function takes the input, the output path and the filter's parameter
under the library's own name, with the command-line tool's default. The input
is a path (str, bytes or any os.PathLike such as pathlib.Path) or an image in
memory: a PIL.Image.Image, or a numpy uint8 array of shape (H, W, 3) or
(H, W, 4). With an output path the result is written there (its format
follows the extension: .jpg/.jpeg, .png, .bmp, else the input's) and None is
returned; an image in memory without an output path comes back as the same
kind of object, with exactly the pixels the file call would give.

When the library refuses, the function raises FilterError, whose message is
the library's own ("blur: radius must be positive, got 0"). It is also the
built-in exception for its cause: FileNotFoundError for a missing input
(with errno and filename), another OSError for an input that cannot be read or
an output that cannot be written, ValueError for a refused parameter.

The library is found as _library describes (an explicit load_library(path),
$IMGFILTER_LIBRARY, next to the package, a source checkout's build/release,
the system). Calls from several threads are safe: the binding serialises each
call with the reading of its message (use processes for parallel work).
"""

from __future__ import annotations

import ctypes
import numbers
import operator
import os
import tempfile
import threading
from typing import TYPE_CHECKING, Iterable, Optional, Sequence, TypeVar, Union

from . import _library, _pixels
from ._errors import (FilterError, FilterFileNotFoundError, FilterIsADirectoryError, FilterMemoryError,
                      FilterOSError, FilterPermissionError, FilterValueError, error_for)

if TYPE_CHECKING:
    import numpy
    import PIL.Image

__version__ = "1.0.0"

__all__ = [
    "__version__", "FilterError", "FilterOSError", "FilterFileNotFoundError", "FilterPermissionError",
    "FilterIsADirectoryError", "FilterValueError", "FilterMemoryError", "load_library", "library_path",
    "vignette", "blur", "sharpen", "kernel", "emboss", "edge_detect", "denoise", "pixelate", "oil_paint",
]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Image = TypeVar("Image", "PIL.Image.Image", "numpy.ndarray")

_INT_MIN, _INT_MAX = -2**31, 2**31 - 1

# The exceptions are part of this package's interface; show them as such.
for _error in (FilterError, FilterOSError, FilterFileNotFoundError, FilterPermissionError, FilterIsADirectoryError,
               FilterValueError, FilterMemoryError):
    _error.__module__ = __name__
del _error

_loaded = None
_loading = threading.Lock()


def load_library(path: Optional[PathLike] = None) -> str:
    """Loads the library from path, or finds it when path is None, and uses it
    for every later call. Raises OSError when it cannot be loaded. Returns the
    path that was loaded."""
    global _loaded
    with _loading:
        _loaded = _library.Library(_text_path(path)) if path is not None else _library.find_library()
        return _loaded.path


def library_path() -> str:
    """The path or name of the library the functions call, loading it if needed."""
    return _current().path


def _current():
    global _loaded
    with _loading:
        if _loaded is None:
            _loaded = _library.find_library()
        return _loaded


def _text_path(value):
    path = os.fspath(value)
    _refuse_nul(path)
    return path


def _refuse_nul(path):
    # C sees a path up to its first NUL: 'x.jpg\0.png' would write x.jpg. As
    # open() does, refuse it before anything is called.
    if (b"\0" if isinstance(path, bytes) else "\0") in path:
        raise ValueError("embedded null byte")


def _path(value):
    if value is None:
        raise TypeError("expected a path (str, bytes or os.PathLike), not None")
    path = _text_path(value)
    return path if isinstance(path, bytes) else os.fsencode(path)


def _real(name, value):
    # A number must be a number: '2' is refused as Python's own math does,
    # and so is True.
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, got {value!r}")
    return float(value)


def _int(name, value):
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, got {value!r}")
    number = operator.index(value)
    if not _INT_MIN <= number <= _INT_MAX:
        raise OverflowError(f"{name} must fit a 32-bit int, got {number}")
    return number


def _call(function, input_path, output_path, parameters):
    ok, message = _current().call(function, input_path, output_path, *parameters)
    if not ok:
        raise error_for(message, input_path, output_path)


def _run(function, input, output, *parameters):
    if not _pixels.is_pixels(input):
        if output is None:
            raise TypeError("an output path is needed when the input is a path")
        _call(function, _path(input), _path(output), parameters)
        return None
    pixels = _pixels.from_object(input)
    output_path = _path(output) if output is not None else None
    # mkdtemp makes the directory readable by this user only.
    with tempfile.TemporaryDirectory(prefix="imgfilter-") as private:
        source = os.path.join(os.fsencode(private), b"input.png")
        with open(source, "wb") as file:
            file.write(_pixels.png_bytes(pixels))
        if output_path is not None:
            _call(function, source, output_path, parameters)
            return None
        result = os.path.join(os.fsencode(private), b"result.bmp")
        _call(function, source, result, parameters)
        with open(result, "rb") as file:
            data = file.read()
    return _pixels.to_object(_pixels.read_library_bmp(data, pixels.channels, pixels.source))


def vignette(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
             strength: float = 0.5) -> Optional[Image]:
    """Darkens towards the corners: strength 0..1 (above 1 up to 100: percent)."""
    return _run("imgfilter_vignette", input_path, output_path, _real("strength", strength))


def blur(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
         radius: float = 2.0) -> Optional[Image]:
    """Gaussian blur; radius (the standard deviation in pixels) > 0."""
    return _run("imgfilter_blur", input_path, output_path, _real("radius", radius))


def sharpen(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
            amount: float = 1.0) -> Optional[Image]:
    """Four-neighbour Laplacian sharpening; amount 0.0..5.0."""
    return _run("imgfilter_sharpen", input_path, output_path, _real("amount", amount))


def kernel(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
           weights: Union[Sequence[float], Sequence[Sequence[float]], None] = None,
           size: Optional[int] = None) -> Optional[Image]:
    """Correlation with a 3x3 or 5x5 grid of weights, row by row from the top left.

    weights (required) is a flat sequence of 9 or 25 numbers or a sequence of
    rows; size defaults to the grid's side. A size other than 3 or 5 is the
    library's to refuse; fewer weights than size * size is refused here,
    before the library could read past them.
    """
    if weights is None:
        raise TypeError("kernel() needs weights: 9 or 25 numbers")
    flat = [_real("weights", w) for row in weights for w in (row if _is_row(row) else (row,))]
    if size is None:
        size = {9: 3, 25: 5}.get(len(flat))
        if size is None:
            raise ValueError(f"kernel: weights must be 9 or 25 numbers, got {len(flat)}")
    size = _int("size", size)
    if size in (3, 5) and len(flat) != size * size:
        raise ValueError(f"kernel: size {size} needs {size * size} weights, got {len(flat)}")
    grid = (ctypes.c_float * max(len(flat), 1))(*flat)
    return _run("imgfilter_kernel", input_path, output_path, grid, size)


def _is_row(item):
    return not isinstance(item, (str, bytes)) and isinstance(item, Iterable)


def emboss(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None) -> Optional[Image]:
    """Grey relief: mid-grey where flat."""
    return _run("imgfilter_emboss", input_path, output_path)


def edge_detect(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None) -> Optional[Image]:
    """Sobel gradient magnitude of the brightness as grey, capped at 255."""
    return _run("imgfilter_edge_detect", input_path, output_path)


def denoise(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
            strength: int = 3) -> Optional[Image]:
    """Edge-preserving bilateral smoothing; strength 1..10."""
    return _run("imgfilter_denoise", input_path, output_path, _int("strength", strength))


def pixelate(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
             block_size: int = 8) -> Optional[Image]:
    """Paints block_size x block_size blocks with their mean colour; block_size >= 1."""
    return _run("imgfilter_pixelate", input_path, output_path, _int("block_size", block_size))


def oil_paint(input_path: Union[PathLike, Image], output_path: Optional[PathLike] = None,
              radius: int = 4) -> Optional[Image]:
    """Oil-paint look over a disc of the given radius; >= 1, above 30 acts as 30."""
    return _run("imgfilter_oil_paint", input_path, output_path, _int("radius", radius))
