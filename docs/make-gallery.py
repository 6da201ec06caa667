#!/usr/bin/python3
"""The figure gallery docs/gallery/*.png: the five figures of tersolv.plot, each with its defaults.

Run from the source folder, with the package built in build/:

    cmake --build build --target tersolv_python
    PYTHONPATH=build/python /usr/bin/python3 docs/make-gallery.py
"""

import os

from tersolv import plot

GALLERY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gallery")


def main():
    os.makedirs(GALLERY, exist_ok=True)
    for kind in plot.KINDS:
        path = os.path.join(GALLERY, f"{kind}.png")
        plot.save(getattr(plot, kind)(), path)
        print(path)


if __name__ == "__main__":
    main()
