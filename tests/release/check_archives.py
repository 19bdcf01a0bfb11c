#!/usr/bin/python3
"""Checks the release archives that scripts/package made, as a user receives them.

Usage: check_archives.py DIST_FOLDER VERSION
Prints one line per finding and exits 1 if there is any.
"""
import os
import subprocess
import sys
import tarfile
import tempfile
import zipfile

import pefile

PRODUCT = "OVK Grindlemark"
VENDOR = "OVK"


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_dll(name, data, machine, version, problems):
    pe = pefile.PE(data=data)
    if pe.FILE_HEADER.Machine != machine:
        problems.append(f"{name}: machine {pe.FILE_HEADER.Machine:#x}, expected {machine:#x}")
    strings = version_strings(pe)
    expected = {"ProductName": PRODUCT, "CompanyName": VENDOR, "FileVersion": version, "ProductVersion": version}
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"{name}: version resource {key} is {strings.get(key)!r}, expected {value!r}")
    if not strings.get("FileDescription"):
        problems.append(f"{name}: version resource has no FileDescription")
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    numbers = [int(part) for part in version.split(".")]
    if not fixed or (fixed.FileVersionMS, fixed.FileVersionLS) != (numbers[0] << 16 | numbers[1], numbers[2] << 16):
        problems.append(f"{name}: fixed file version does not say {version}")
    exports = {s.name.decode(): s.address for s in pe.DIRECTORY_ENTRY_EXPORT.symbols} if hasattr(
        pe, "DIRECTORY_ENTRY_EXPORT") else {}
    if sorted(exports) != ["VSTPluginMain", "main"] or len(set(exports.values())) != 1:
        problems.append(f"{name}: exports {exports}, expected VSTPluginMain and main at one address")


LV2_BUNDLE = ("Grindlemark.so", "Grindlemark.ttl", "manifest.ttl", "presets.ttl")
LV2_URI = "urn:ovk:grindlemark"


def check_lv2_bundle(tar_path, unpacked, problems):
    """An LV2 host finds the unpacked bundle, its binary and its presets."""
    binary = os.path.join(unpacked, "Grindlemark.lv2", "Grindlemark.so")
    symbols = subprocess.run(["nm", "-D", "--defined-only", binary], capture_output=True, text=True).stdout
    exports = sorted(line.split()[2] for line in symbols.split("\n") if len(line.split()) == 3)
    if exports != ["lv2_descriptor", "lv2ui_descriptor"]:
        problems.append(f"{tar_path}: Grindlemark.lv2/Grindlemark.so exports {exports}")
    info = subprocess.run(["lv2info", LV2_URI], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, LV2_PATH=unpacked))
    for wanted in ("Grindlemark.lv2/Grindlemark.so", "Fat overdrive", "Init10", "Latency"):
        if info.returncode != 0 or wanted not in info.stdout:
            problems.append(f"{tar_path}: lv2info finds no {wanted!r} in the unpacked bundle "
                            f"(exit {info.returncode}): {info.stderr[-300:]}")


def main():
    dist, version = sys.argv[1], sys.argv[2]
    problems = []
    vendor_version = int(version.split(".")[0]) * 1000 + int(version.split(".")[1]) * 100 + int(version.split(".")[2])

    zip_path = os.path.join(dist, f"Grindlemark-{version}-windows.zip")
    with zipfile.ZipFile(zip_path) as archive:
        names = sorted(archive.namelist())
        wanted = sorted(["INSTALL.txt", "README.md", "x64/Grindlemark.dll", "x86/Grindlemark.dll"])
        if names != wanted:
            problems.append(f"{zip_path}: holds {names}, expected {wanted}")
        else:
            check_dll("x86/Grindlemark.dll", archive.read("x86/Grindlemark.dll"), 0x14C, version, problems)
            check_dll("x64/Grindlemark.dll", archive.read("x64/Grindlemark.dll"), 0x8664, version, problems)

    folder = f"Grindlemark-{version}-linux-x64"
    tar_path = os.path.join(dist, folder + ".tar.gz")
    with tarfile.open(tar_path) as archive, tempfile.TemporaryDirectory() as scratch:
        names = sorted(archive.getnames())
        wanted = sorted([folder] + [f"{folder}/{n}" for n in
                                    ("Grindlemark.so", "grindlemark-host", "README.md", "INSTALL.txt")] +
                        [f"{folder}/Grindlemark.lv2"] + [f"{folder}/Grindlemark.lv2/{n}" for n in LV2_BUNDLE])
        if names != wanted:
            problems.append(f"{tar_path}: holds {names}, expected {wanted}")
        else:
            archive.extractall(scratch)
            unpacked = os.path.join(scratch, folder)
            # The unpacked tool loads the unpacked plug-in as a host does.
            info = subprocess.run([os.path.join(unpacked, "grindlemark-host"), "--plugin",
                                   os.path.join(unpacked, "Grindlemark.so"), "--info"],
                                  capture_output=True, text=True, timeout=60)
            if info.returncode != 0 or f"vendor {vendor_version}," not in info.stdout:
                problems.append(f"{tar_path}: the host tool does not report vendor version {vendor_version} "
                                f"for the plug-in (exit {info.returncode}): {info.stdout[-300:]}{info.stderr[-300:]}")
            symbols = subprocess.run(["nm", "-D", "--defined-only", os.path.join(unpacked, "Grindlemark.so")],
                                     capture_output=True, text=True).stdout.split("\n")
            exports = {line.split()[2]: line.split()[0] for line in symbols if len(line.split()) == 3}
            if sorted(exports) != ["VSTPluginMain", "main"] or len(set(exports.values())) != 1:
                problems.append(f"{tar_path}: Grindlemark.so exports {exports}")
            check_lv2_bundle(tar_path, unpacked, problems)

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
