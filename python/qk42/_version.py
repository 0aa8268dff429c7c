# Kept equal to the project version in the top-level CMakeLists.txt (a test checks): the
# package is a thin layer over libqk42 and is released with it.
__version__ = "1.0.0.1"
