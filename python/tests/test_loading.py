"""Where the binding finds the library: the environment variable first, then
a copy in the package's folder, then the system loader. Each case imports
the package in a fresh interpreter with its own environment."""
import os
import shutil
import subprocess
import sys

import pytest

BUILT = os.path.realpath(os.environ["TANDRELO_MDNS_LIBRARY"])
PACKAGE = os.path.dirname(os.path.realpath(__import__("tandrelo_mdns").__file__))
SONAME = "libtandrelo-mdns.so.1"

PROBE = """
import tandrelo_mdns
maps = open("/proc/self/maps").read()
loaded = sorted({line.split()[-1] for line in maps.splitlines() if "tandrelo-mdns" in line})
print(tandrelo_mdns.LIBRARY)
print(",".join(loaded))
print(tandrelo_mdns.version())
"""


def run_probe(tmp_path, env_var=None, copy_next_to=False, system_dir=None):
    """Imports a copy of the package; returns (LIBRARY, mapped files) or the
    import error's text."""
    packages = tmp_path / "packages"
    shutil.copytree(PACKAGE, packages / "tandrelo_mdns",
                    ignore=shutil.ignore_patterns("*.so*", "*.dll", "__pycache__"))
    if copy_next_to:
        shutil.copy(BUILT, packages / "tandrelo_mdns" / SONAME)
    env = {k: v for k, v in os.environ.items()
           if k not in ("TANDRELO_MDNS_LIBRARY", "LD_LIBRARY_PATH", "PYTHONPATH")}
    env["PYTHONPATH"] = str(packages)
    if env_var is not None:
        env["TANDRELO_MDNS_LIBRARY"] = env_var
    if system_dir is not None:
        env["LD_LIBRARY_PATH"] = str(system_dir)
    done = subprocess.run([sys.executable, "-c", PROBE], env=env, cwd=tmp_path,
                          capture_output=True, text=True)
    if done.returncode != 0:
        return done.stderr
    library, mapped, version = done.stdout.splitlines()
    assert version == "1.1.0"
    return library, mapped


@pytest.fixture
def system_dir(tmp_path):
    """A folder that the system loader searches through LD_LIBRARY_PATH."""
    folder = tmp_path / "system"
    folder.mkdir()
    shutil.copy(BUILT, folder / SONAME)
    return folder


def test_the_variable_wins_over_everything(tmp_path, system_dir):
    assert run_probe(tmp_path, env_var=BUILT, copy_next_to=True,
                     system_dir=system_dir) == (BUILT, BUILT)


def test_a_copy_next_to_the_package_wins_over_the_system(tmp_path, system_dir):
    copy = str(tmp_path / "packages" / "tandrelo_mdns" / SONAME)
    assert run_probe(tmp_path, copy_next_to=True, system_dir=system_dir) == (copy, copy)


def test_the_system_loader_is_the_last_resort(tmp_path, system_dir):
    assert run_probe(tmp_path, system_dir=system_dir) == (SONAME, str(system_dir / SONAME))


def test_a_wrong_variable_fails_without_falling_back(tmp_path, system_dir):
    error = run_probe(tmp_path, env_var=str(tmp_path / "missing.so"), copy_next_to=True,
                      system_dir=system_dir)
    assert "ImportError: TANDRELO_MDNS_LIBRARY=%s cannot be loaded" % (
        tmp_path / "missing.so") in error


def test_nowhere_names_every_place_tried(tmp_path):
    error = run_probe(tmp_path, system_dir=tmp_path)
    if isinstance(error, tuple):
        pytest.skip("the library is installed on this system: %s" % (error,))
    assert "ImportError: the tandrelo-mdns library was not found" in error
    assert str(tmp_path / "packages" / "tandrelo_mdns" / SONAME) + " (absent)" in error
    assert SONAME + " on the system path" in error
