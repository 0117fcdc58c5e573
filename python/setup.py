"""Build hook of the Python package: bundles the built library.

When TANDRELO_MDNS_LIBRARY names the library file at install time,

    TANDRELO_MDNS_LIBRARY=$PWD/build/libtandrelo-mdns.so.1 \
        pip install --no-build-isolation ./python

that file is copied into the installed package (as libtandrelo-mdns.so.1,
or tandrelo-mdns.dll for a DLL), where the binding looks first once the
variable is no longer set, and the wheel is marked as one for this platform.
Without the variable the package holds no library and the binding asks the
system loader at import time. Everything else is in pyproject.toml.
"""
import os
import shutil

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

ENV_VAR = "TANDRELO_MDNS_LIBRARY"


def library_to_bundle():
    """(source path, file name inside the package), or None."""
    path = os.environ.get(ENV_VAR, "")
    if not path:
        return None
    if not os.path.isfile(path):
        raise SystemExit("%s=%s: no such file" % (ENV_VAR, path))
    name = "tandrelo-mdns.dll" if path.lower().endswith(".dll") else "libtandrelo-mdns.so.1"
    return path, name


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        bundle = library_to_bundle()
        if bundle is None:
            print("tandrelo-mdns: %s is not set; the package bundles no library" % ENV_VAR)
            return
        source, name = bundle
        target = os.path.join(self.build_lib, "tandrelo_mdns", name)
        # copyfile, not copy2: follows a symbolic link such as .so.1 -> .so.1.1.0.
        shutil.copyfile(source, target)
        print("tandrelo-mdns: bundled %s as %s" % (source, target))


class LibraryDistribution(Distribution):
    def has_ext_modules(self):
        # A bundled library makes the wheel specific to this platform.
        return library_to_bundle() is not None


setup(cmdclass={"build_py": BuildWithLibrary}, distclass=LibraryDistribution)
