"""Finding and loading the imgfilter shared library.

The library is looked for, in this order:

1. an explicit path given to ``load_library(path)``;
2. the path in the environment variable ``IMGFILTER_LIBRARY``;
3. next to this package: in the package directory itself or in the directory
   that holds it (how a bundled copy is shipped);
4. when the package is used from a source checkout (``python/imgfilter`` beside
   the project's ``CMakeLists.txt``), the checkout's ``build/release/src``,
   which ``./run demo`` builds;
5. the system's library search (the dynamic loader's own path, then
   ``ctypes.util.find_library``), which finds the copy the Debian package
   libimgfilter1 installs.
"""

import ctypes
import ctypes.util
import os
import sys
import threading

# File names of the library on each kind of host, most specific first.
if sys.platform == "win32":
    _FILE_NAMES = ("imgfilter.dll", "libimgfilter.dll")
elif sys.platform == "darwin":
    _FILE_NAMES = ("libimgfilter.1.dylib", "libimgfilter.dylib")
else:
    _FILE_NAMES = ("libimgfilter.so.1", "libimgfilter.so")

ENVIRONMENT_VARIABLE = "IMGFILTER_LIBRARY"

_PATH = ctypes.c_char_p
_FLOAT = ctypes.c_float
_INT = ctypes.c_int

# Argument types after the two paths, per exported filter function.
_SIGNATURES = {
    "imgfilter_vignette": (_FLOAT,),
    "imgfilter_blur": (_FLOAT,),
    "imgfilter_sharpen": (_FLOAT,),
    "imgfilter_kernel": (ctypes.POINTER(ctypes.c_float), _INT),
    "imgfilter_emboss": (),
    "imgfilter_edge_detect": (),
    "imgfilter_denoise": (_INT,),
    "imgfilter_pixelate": (_INT,),
    "imgfilter_oil_paint": (_INT,),
}

# The library keeps one error message for the whole process. ctypes releases
# the GIL during a call, so two Python threads could otherwise interleave a
# call and the reading of its message; every call holds this lock until its
# message has been read, whichever Library object it goes through.
_CALL_LOCK = threading.Lock()


class Library:
    """One loaded copy of the library, with its functions typed for ctypes."""

    def __init__(self, path):
        self.path = path
        self._dll = ctypes.CDLL(path)
        self._dll.imgfilter_last_error.restype = ctypes.c_char_p
        self._dll.imgfilter_last_error.argtypes = ()
        for name, parameters in _SIGNATURES.items():
            function = getattr(self._dll, name)
            function.restype = ctypes.c_int
            function.argtypes = (_PATH, _PATH) + parameters

    def call(self, name, *arguments):
        """Runs one exported filter function: (True, "") or (False, message)."""
        function = getattr(self._dll, name)
        with _CALL_LOCK:
            if function(*arguments):
                return True, ""
            message = self._dll.imgfilter_last_error()
        return False, message.decode("utf-8", errors="replace")


def _package_dir():
    return os.path.dirname(os.path.abspath(__file__))


def _candidates_next_to_package():
    package_dir = _package_dir()
    for directory in (package_dir, os.path.dirname(package_dir)):
        for file_name in _FILE_NAMES:
            yield os.path.join(directory, file_name)


def _candidates_in_build_tree():
    checkout = os.path.dirname(os.path.dirname(_package_dir()))
    if not (os.path.isfile(os.path.join(checkout, "CMakeLists.txt"))
            and os.path.isfile(os.path.join(checkout, "include", "imgfilter.h"))):
        return
    for file_name in _FILE_NAMES:
        yield os.path.join(checkout, "build", "release", "src", file_name)


def find_library():
    """Loads the library from the first place of the search that has it."""
    given = os.environ.get(ENVIRONMENT_VARIABLE)
    if given:
        return Library(given)
    for path in _candidates_next_to_package():
        if os.path.isfile(path):
            return Library(path)
    for path in _candidates_in_build_tree():
        if os.path.isfile(path):
            return Library(path)
    tried = []
    for file_name in _FILE_NAMES:
        try:
            return Library(file_name)
        except OSError as error:
            tried.append(str(error))
    found = ctypes.util.find_library("imgfilter")
    if found:
        return Library(found)
    raise OSError(
        "imgfilter: the shared library was not found next to the package, in a build "
        "tree or in the system's library search; install libimgfilter1, run ./run demo "
        f"in the source tree, set {ENVIRONMENT_VARIABLE} or pass its path to "
        "imgfilter.load_library() (" + "; ".join(tried) + ")")
