"""python3 -m reference NAME TESSARY_VOL [ARGUMENTS...]: runs the sweep of reference.sweeps.NAME
against the converter TESSARY_VOL."""
import importlib
import os
import sys

from . import runner


def entry():
    if len(sys.argv) < 3:
        sys.exit("usage: python3 -m reference NAME TESSARY_VOL [ARGUMENTS...]")
    name, tool = sys.argv[1], os.path.abspath(sys.argv[2])
    plugin = importlib.import_module("reference.sweeps." + name)
    return runner.main(plugin, tool, sys.argv[3:])


sys.exit(entry())
