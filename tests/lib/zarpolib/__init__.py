"""What the test and benchmark scripts share. The scripts stay where they run from (tests/wine,
tests/keydisk, tests/exe, bench) and import this package; whoever runs them puts tests/lib on
PYTHONPATH, and release/ too for the package format (release/zarpo_format.py):

    PYTHONPATH=tests/lib:release python3 tests/wine/scenarios.py --list

  wine      the Wine sandbox: a prefix, a display, drives and bounded processes per scenario
  scenario  the updater's words and boxes, the collected checks, a scenario's Context
  pe        the resources of a PE file (pefile)
  keydisk   the key disks inside the emulated machine, and the Linux build run on one
  images    FAT32 images read on the host: fresh ones, mtools' view, the cluster-chain walker
"""
