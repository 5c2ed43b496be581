"""The exceptions of the binding, chosen from the library's message.

Every failure is a FilterError whose .message (and str()) is the library's
own one-line message. It is also the built-in exception a Python programmer
expects for the cause: an input that cannot be read is an OSError (with
errno, strerror and filename; FileNotFoundError for a missing file,
PermissionError, IsADirectoryError), an output that cannot be written an
OSError too, a parameter the library refuses a ValueError, an exhausted heap
a MemoryError. A file that is not an image, or not a sound one, stays a plain
FilterError.
"""

import errno
import os


class FilterError(Exception):
    """A filter call failed; str(error) and error.message are the library's message."""

    def __init__(self, message, *os_arguments):
        super().__init__(*(os_arguments or (message,)))
        self.message = message

    def __str__(self):
        return self.message


class FilterOSError(FilterError, OSError):
    """The input could not be read or the output not written."""


class FilterFileNotFoundError(FilterOSError, FileNotFoundError):
    """The input (or the output's directory) does not exist."""


class FilterPermissionError(FilterOSError, PermissionError):
    """The system refused access to the input or the output."""


class FilterIsADirectoryError(FilterOSError, IsADirectoryError):
    """A directory stands where a file was named."""


class FilterValueError(FilterError, ValueError):
    """The library refused a parameter."""


class FilterMemoryError(FilterError, MemoryError):
    """The library could not get the memory the image needs."""


_BY_ERRNO = {
    errno.ENOENT: FilterFileNotFoundError,
    errno.EACCES: FilterPermissionError,
    errno.EPERM: FilterPermissionError,
    errno.EISDIR: FilterIsADirectoryError,
}


def _os_error(message, code, filename):
    if code is None:
        return FilterOSError(message)
    return _BY_ERRNO.get(code, FilterOSError)(message, code, os.strerror(code), filename)


def _read_cause(path):
    """The errno that keeps path from being read, None when none shows."""
    try:
        with open(path, "rb") as file:
            if os.fstat(file.fileno()).st_size == 0:
                return None
    except OSError as error:
        return error.errno
    return None


def _write_cause(path):
    directory = os.path.dirname(path) or (b"." if isinstance(path, bytes) else ".")
    if os.path.isdir(path):
        return errno.EISDIR
    if not os.path.exists(directory):
        return errno.ENOENT
    if not os.path.isdir(directory):
        return errno.ENOTDIR
    if not os.access(directory, os.W_OK):
        return errno.EACCES
    return None


def error_for(message, input_path, output_path):
    """The exception for a failed call's message; the paths are the ones the
    library was given (bytes), so that the system is asked about them."""
    if ": cannot read input file '" in message:
        return _os_error(message, _read_cause(input_path), os.fsdecode(input_path))
    if ": cannot write output file '" in message:
        return _os_error(message, _write_cause(output_path), os.fsdecode(output_path))
    if message.endswith(": memory allocation failed") or ": memory allocation failed for " in message:
        return FilterMemoryError(message)
    if ": unsupported image format for '" in message or ": cannot decode '" in message \
            or message.endswith(": empty image"):
        return FilterError(message)
    return FilterValueError(message)
