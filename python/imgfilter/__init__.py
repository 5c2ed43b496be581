"""Python binding of the imgfilter library: one function per filter.

    import imgfilter
    imgfilter.blur("in.jpg", "out.png", radius=2.0)

Every function takes the input path and the output path (str, bytes or any
os.PathLike such as pathlib.Path) and the filter's parameters under the
library's own names, and returns None. When the library refuses, the function
raises FilterError whose message is the library's own, for example
"blur: radius must be positive, got 0". The output format follows the output
path's extension (.jpg/.jpeg, .png, .bmp), else the input's format.

The library is found next to this package or through the system's library
search; call load_library(path) first to use a particular file. Calls from
several threads are safe: the binding serialises each call with the reading of
its message (they run one at a time; use processes for parallel work).
"""

import ctypes
import operator
import os
import threading

from . import _library

__all__ = [
    "FilterError", "load_library", "library_path",
    "vignette", "blur", "sharpen", "kernel", "emboss", "edge_detect", "denoise", "pixelate", "oil_paint",
]

_INT_MIN, _INT_MAX = -2**31, 2**31 - 1


class FilterError(Exception):
    """A filter call failed; str(error) and error.message are the library's message."""

    def __init__(self, message):
        super().__init__(message)
        self.message = message


_loaded = None
_loading = threading.Lock()


def load_library(path=None):
    """Loads the library from path, or finds it when path is None, and uses it
    for every later call. Raises OSError when it cannot be loaded. Returns the
    path that was loaded."""
    global _loaded
    with _loading:
        _loaded = _library.Library(os.fspath(path)) if path is not None else _library.find_library()
        return _loaded.path


def library_path():
    """The path or name of the library the functions call, loading it if needed."""
    return _current().path


def _current():
    global _loaded
    with _loading:
        if _loaded is None:
            _loaded = _library.find_library()
        return _loaded


def _path(value):
    path = os.fspath(value)
    return path if isinstance(path, bytes) else os.fsencode(path)


def _int(name, value):
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, got {value!r}")
    number = operator.index(value)
    if not _INT_MIN <= number <= _INT_MAX:
        raise OverflowError(f"{name} must fit a 32-bit int, got {number}")
    return number


def _run(function, input_path, output_path, *parameters):
    ok, message = _current().call(function, _path(input_path), _path(output_path), *parameters)
    if not ok:
        raise FilterError(message)


def vignette(input_path, output_path, strength):
    """Darkens towards the corners: strength 0..1 (above 1 up to 100: percent)."""
    _run("imgfilter_vignette", input_path, output_path, float(strength))


def blur(input_path, output_path, radius):
    """Gaussian blur; radius (the standard deviation in pixels) > 0."""
    _run("imgfilter_blur", input_path, output_path, float(radius))


def sharpen(input_path, output_path, amount):
    """Four-neighbour Laplacian sharpening; amount 0.0..5.0."""
    _run("imgfilter_sharpen", input_path, output_path, float(amount))


def kernel(input_path, output_path, weights, size=None):
    """Correlation with a 3x3 or 5x5 grid of weights, row by row from the top left.

    weights is a flat sequence of 9 or 25 numbers or a sequence of rows; size
    defaults to the grid's side. A size other than 3 or 5 is the library's to
    refuse; fewer weights than size * size is refused here, before the library
    could read past them.
    """
    flat = [float(w) for row in weights for w in (row if _is_row(row) else (row,))]
    if size is None:
        size = {9: 3, 25: 5}.get(len(flat))
        if size is None:
            raise ValueError(f"kernel: weights must be 9 or 25 numbers, got {len(flat)}")
    size = _int("size", size)
    if size in (3, 5) and len(flat) != size * size:
        raise ValueError(f"kernel: size {size} needs {size * size} weights, got {len(flat)}")
    grid = (ctypes.c_float * max(len(flat), 1))(*flat)
    _run("imgfilter_kernel", input_path, output_path, grid, size)


def _is_row(item):
    return not isinstance(item, (str, bytes)) and hasattr(item, "__iter__")


def emboss(input_path, output_path):
    """Grey relief: mid-grey where flat."""
    _run("imgfilter_emboss", input_path, output_path)


def edge_detect(input_path, output_path):
    """Sobel gradient magnitude of the brightness as grey, capped at 255."""
    _run("imgfilter_edge_detect", input_path, output_path)


def denoise(input_path, output_path, strength):
    """Edge-preserving bilateral smoothing; strength 1..10."""
    _run("imgfilter_denoise", input_path, output_path, _int("strength", strength))


def pixelate(input_path, output_path, block_size):
    """Paints block_size x block_size blocks with their mean colour; block_size >= 1."""
    _run("imgfilter_pixelate", input_path, output_path, _int("block_size", block_size))


def oil_paint(input_path, output_path, radius):
    """Oil-paint look over a disc of the given radius; >= 1, above 30 acts as 30."""
    _run("imgfilter_oil_paint", input_path, output_path, _int("radius", radius))
