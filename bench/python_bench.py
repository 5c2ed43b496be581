#!/usr/bin/env python3
"""The Python binding on a 12 MP photo-like RGB array, one thread, against
Pillow and OpenCV where they have the filter, in one run.

Each row is the median of --repeat calls, the binding's from the array in to
the new array out. The parameters are the C benchmark's filter rows
(bench/filters_bench.cpp), so a row can be set beside its worker's own time
there (docs/performance.md). Needs python3-numpy and python3-pil; OpenCV's
column needs python3-opencv. Its blur is the call OpenCV's users make,
GaussianBlur with the kernel size left to it (it reaches 3σ, where imgfilter's
blur reaches 2σ); its bilateral filter has the C benchmark's settings
(bench/opencv_peers.cpp).

Usage: PYTHONPATH=python IMGFILTER_LIBRARY=... IMGFILTER_NATIVE=... bench/python_bench.py [--repeat N]
"""

import argparse
import os
import statistics
import time

os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy  # noqa: E402
from PIL import Image, ImageFilter  # noqa: E402

import imgfilter  # noqa: E402

try:
    import cv2
    cv2.setNumThreads(1)
except ImportError:
    cv2 = None


def photo_like(height, width):
    """Smooth gradients, edges and fine noise, as a photograph has."""
    rng = numpy.random.default_rng(1)
    y, x = numpy.mgrid[0:height, 0:width].astype(numpy.float32)
    base = numpy.stack([128 + 100 * numpy.sin(x / 300 + c) * numpy.cos(y / 200 - c) for c in range(3)], axis=2)
    base += numpy.where((x // 500 + y // 400) % 2 == 0, 30, -30)[..., None]
    base += rng.normal(0, 6, base.shape)
    return numpy.clip(base, 0, 255).astype(numpy.uint8)


def median_ms(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    repeat = parser.parse_args().repeat
    array = photo_like(3000, 4000)
    image = Image.fromarray(array)
    rows = [
        ("blur σ 1.5", lambda: imgfilter.blur(array, radius=1.5),
         lambda: image.filter(ImageFilter.GaussianBlur(1.5)),
         cv2 and (lambda: cv2.GaussianBlur(array, (0, 0), 1.5))),
        ("blur σ 10", lambda: imgfilter.blur(array, radius=10),
         lambda: image.filter(ImageFilter.GaussianBlur(10)),
         cv2 and (lambda: cv2.GaussianBlur(array, (0, 0), 10))),
        ("vignette 0.5", lambda: imgfilter.vignette(array, strength=0.5), None, None),
        ("sharpen 4.0", lambda: imgfilter.sharpen(array, amount=4.0), lambda: image.filter(ImageFilter.SHARPEN),
         None),
        ("kernel 3×3", lambda: imgfilter.kernel(array, weights=[0, -1, 0, -1, 5, -1, 0, -1, 0]),
         lambda: image.filter(ImageFilter.Kernel((3, 3), [0, -1, 0, -1, 5, -1, 0, -1, 0], 1)),
         cv2 and (lambda: cv2.filter2D(array, -1, numpy.array([[0, -1, 0], [-1, 5, -1], [0, -1, 0]], numpy.float32)))),
        ("emboss", lambda: imgfilter.emboss(array), lambda: image.filter(ImageFilter.EMBOSS), None),
        ("edge_detect", lambda: imgfilter.edge_detect(array), lambda: image.filter(ImageFilter.FIND_EDGES),
         cv2 and (lambda: cv2.Sobel(cv2.cvtColor(array, cv2.COLOR_RGB2GRAY), cv2.CV_16S, 1, 1))),
        ("denoise 3", lambda: imgfilter.denoise(array, strength=3), None,
         cv2 and (lambda: cv2.bilateralFilter(array, 5, 25.0, 2.2, borderType=cv2.BORDER_REPLICATE))),
        ("pixelate 16", lambda: imgfilter.pixelate(array, block_size=16),
         lambda: image.resize((250, 188), Image.Resampling.BOX).resize((4000, 3000), Image.Resampling.NEAREST),
         None),
        ("oil_paint 3", lambda: imgfilter.oil_paint(array, radius=3), lambda: image.filter(ImageFilter.ModeFilter(7)),
         None),
    ]
    print(f"12 MP RGB array (3000×4000), one thread, median of {repeat}; ms")
    print("| filter | imgfilter (array) | Pillow | OpenCV |")
    print("|---|---:|---:|---:|")
    for name, ours, pillow, opencv in rows:
        cells = [median_ms(ours, repeat)]
        cells += [median_ms(other, repeat) if other else None for other in (pillow, opencv)]
        print(f"| {name} | " + " | ".join("—" if c is None else f"{c:.0f}" for c in cells) + " |", flush=True)


if __name__ == "__main__":
    main()
