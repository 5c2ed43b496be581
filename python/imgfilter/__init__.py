"""Python binding of the imgfilter library: one function per filter.

    import imgfilter
    imgfilter.blur("in.jpg", "out.png", radius=2.0)
    sharper = imgfilter.sharpen(pil_image, amount=1.5)      # a PIL.Image.Image
    edges = imgfilter.edge_detect(numpy_rgb_array)          # a numpy (H, W, 3) array

Every function takes the input, the output path and the filter's parameter
under the library's own name, with the command-line tool's default. The input
is a path (str, bytes or any os.PathLike such as pathlib.Path) or an image in
memory: a PIL.Image.Image, or a numpy uint8 array of shape (H, W, 3) or
(H, W, 4), at any strides. With an output path the result is written there
(its format follows the extension: .jpg/.jpeg, .png, .bmp, else the input's,
PNG for an image in memory) and None is returned; an image in memory without
an output path comes back as a new object of the same kind, with exactly the
pixels the file call would give (_pixels tells how PIL modes are taken).

When the library refuses, the function raises FilterError, whose message is
the library's own ("blur: radius must be positive, got 0"). It is also the
built-in exception for its cause: FileNotFoundError for a missing input
(with errno and filename), another OSError for an input that cannot be read or
an output that cannot be written, ValueError for a refused parameter.

The library is found as _library describes (an explicit load_library(path),
$IMGFILTER_LIBRARY, next to the package, a source checkout's build/release,
the system); images in memory go to the package's private module (_native),
which runs the library's own filter workers on them. Calls from several
threads are safe. Calls on images in memory run at once, each with its own
message; file calls are serialised with the reading of the library's one
message (use processes to filter files in parallel).
"""

from __future__ import annotations

import ctypes
import numbers
import operator
import os
import threading
from typing import TYPE_CHECKING, Iterable, Optional, Sequence, TypeVar, Union

from . import _library, _native, _pixels
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
    output_path = _path(output) if output is not None else None

    def refuse(message):
        raise error_for(message, None, output_path)

    name = function[len("imgfilter_"):]
    source = _pixels.prepare(input, name, refuse)
    address, result = source.result() if output_path is None else (None, None)
    message = _native.module().filter(name, source.pixels, _native_parameters(parameters), address, output_path)
    if message is not None:
        refuse(message)
    return result() if result else None


def _native_parameters(parameters):
    """The private module's record of the parameters the exported function takes after the paths."""
    if len(parameters) == 2:
        weights, size = parameters
        return _native.Parameters(weights=weights, size=size)
    if parameters and isinstance(parameters[0], float):
        return _native.Parameters(real=parameters[0])
    if parameters:
        return _native.Parameters(integer=parameters[0])
    return _native.Parameters()


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
    flat = _kernel_weights(weights)
    if size is None:
        size = {9: 3, 25: 5}.get(len(flat))
        if size is None:
            raise ValueError(f"kernel: weights must be 9 or 25 numbers, got {len(flat)}")
    size = _int("size", size)
    if size in (3, 5) and len(flat) != size * size:
        raise ValueError(f"kernel: size {size} needs {size * size} weights, got {len(flat)}")
    grid = (ctypes.c_float * max(len(flat), 1))(*flat)
    return _run("imgfilter_kernel", input_path, output_path, grid, size)


def _kernel_weights(weights):
    """The weights as a flat list of floats: given flat, or as 3 rows of 3 or 5 rows of 5."""
    items = list(weights)
    rows = [item for item in items if _is_row(item)]
    if not rows:
        return [_real("weights", w) for w in items]
    if len(rows) != len(items):
        raise ValueError("kernel: weights must be all numbers or all rows, not a mix of both")
    rows = [list(row) for row in rows]
    if len(rows) not in (3, 5) or any(len(row) != len(rows) for row in rows):
        raise ValueError(f"kernel: weights as rows must be 3 rows of 3 or 5 rows of 5, "
                         f"got rows of {', '.join(str(len(row)) for row in rows)}")
    return [_real("weights", w) for row in rows for w in row]


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
