"""The package's private module: filters on pixels in memory.

_imgfilter_native is a small shared object built from the library's own
sources (the filter workers, the file writer and the layers under them) with
C entry points of its own; it is no part of the library's interface. The
pixels go straight to the worker the file call runs, so the results are the
file call's to the byte, with no file, encoding or decoding on the way.

ctypes lets go of the interpreter lock for each call, so calls from several
threads run at once; each call gets its own message back in a buffer of its
own (the module keeps one message per thread, not one per process).

The module is looked for in this order: $IMGFILTER_NATIVE; inside the package
(where pip's build and the Debian package put it); a source checkout's
build/release/python/native, which ./run demo builds.
"""

import ctypes
import os
import sys
import threading

ENVIRONMENT_VARIABLE = "IMGFILTER_NATIVE"

FILE_NAME = "_imgfilter_native.dll" if sys.platform == "win32" else "_imgfilter_native.so"

_ERROR_SIZE = 1024


class Pixels(ctypes.Structure):
    """imgfilter_native_pixels: element (y, x, c) at data + y*row + x*column + c*channel."""
    _fields_ = [
        ("data", ctypes.c_void_p),
        ("height", ctypes.c_longlong),
        ("width", ctypes.c_longlong),
        ("row_stride", ctypes.c_longlong),
        ("column_stride", ctypes.c_longlong),
        ("channel_stride", ctypes.c_longlong),
        ("channels", ctypes.c_int),
        ("what", ctypes.c_char_p),
    ]


class Parameters(ctypes.Structure):
    """imgfilter_native_params: the filter's parameter in the field of its kind."""
    _fields_ = [
        ("real", ctypes.c_float),
        ("integer", ctypes.c_int),
        ("weights", ctypes.POINTER(ctypes.c_float)),
        ("size", ctypes.c_int),
    ]


class Module:
    """The loaded private module, its functions typed, its filters by name."""

    def __init__(self, path):
        self.path = path
        dll = ctypes.CDLL(path)
        dll.imgfilter_native_filter_name.restype = ctypes.c_char_p
        dll.imgfilter_native_filter_name.argtypes = (ctypes.c_int,)
        dll.imgfilter_native_check_size.restype = ctypes.c_int
        dll.imgfilter_native_check_size.argtypes = (ctypes.c_int, ctypes.c_char_p, ctypes.c_longlong,
                                                    ctypes.c_longlong, ctypes.c_char_p, ctypes.c_size_t)
        dll.imgfilter_native_filter.restype = ctypes.c_int
        dll.imgfilter_native_filter.argtypes = (ctypes.c_int, ctypes.POINTER(Pixels), ctypes.POINTER(Parameters),
                                                ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t)
        self._dll = dll
        # The numbers come from the library's own table, so the order lives in one place.
        self._numbers = {}
        while True:
            name = dll.imgfilter_native_filter_name(len(self._numbers))
            if name is None:
                break
            self._numbers[name.decode("ascii")] = len(self._numbers)

    def check_size(self, filter_name, what, width, height):
        """None when the filter takes an image of this size, else the message."""
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        if self._dll.imgfilter_native_check_size(self._numbers[filter_name], what.encode("utf-8", "replace"),
                                                 width, height, error, _ERROR_SIZE):
            return None
        return error.value.decode("utf-8", "replace")

    def filter(self, filter_name, pixels, parameters, out_address, output_path):
        """Runs the filter; None on success, else the library's message."""
        error = ctypes.create_string_buffer(_ERROR_SIZE)
        if self._dll.imgfilter_native_filter(self._numbers[filter_name], ctypes.byref(pixels),
                                             ctypes.byref(parameters), out_address, output_path, error, _ERROR_SIZE):
            return None
        return error.value.decode("utf-8", "replace")


def _candidates():
    given = os.environ.get(ENVIRONMENT_VARIABLE)
    if given:
        yield given
        return
    package_dir = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(package_dir, FILE_NAME)
    checkout = os.path.dirname(os.path.dirname(package_dir))
    if os.path.isfile(os.path.join(checkout, "include", "imgfilter.h")):
        yield os.path.join(checkout, "build", "release", "python", "native", FILE_NAME)


_module = None
_loading = threading.Lock()


def module():
    """The private module, loaded on first use; OSError when it is nowhere."""
    global _module
    with _loading:
        if _module is None:
            tried = list(_candidates())
            found = [path for path in tried if os.path.isfile(path)]
            if not found:
                raise OSError("imgfilter: the package's module for images in memory was not found (looked for "
                              + ", ".join(tried) + "); install the package with pip or python3-imgfilter, run "
                              f"./run demo in the source tree or set {ENVIRONMENT_VARIABLE}")
            _module = Module(found[0])
        return _module
