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


def check_dll(name, data, machine, version, problems, exported=("VSTPluginMain", "main")):
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
    if exported == ("VSTPluginMain", "main"):
        if sorted(exports) != ["VSTPluginMain", "main"] or len(set(exports.values())) != 1:
            problems.append(f"{name}: exports {exports}, expected VSTPluginMain and main at one address")
    elif sorted(exports) != sorted(exported):
        problems.append(f"{name}: exports {sorted(exports)}, expected {sorted(exported)}")


VST3_WINDOWS_EXPORTS = ("GetPluginFactory", "InitDll", "ExitDll")
VST3_LINUX_EXPORTS = ["GetPluginFactory", "ModuleEntry", "ModuleExit"]


def defined_symbols(path):
    lines = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True, text=True).stdout.split("\n")
    return {line.split()[2]: line.split()[0] for line in lines if len(line.split()) == 3}


# The standard folders each archive's install text must name.
INSTALL_FOLDERS = {
    "windows": ["%COMMONPROGRAMFILES%\\VST3", "%COMMONPROGRAMFILES%\\CLAP"],
    "linux": ["~/.vst3", "~/.vst", "~/.clap", "~/.lv2", "/usr/lib/lv2"],
}


def check_texts(archive_name, texts, problems, platform):
    """The texts a user reads first speak only of what the archive holds, and
    the install text names every format's standard folder."""
    for name, text in texts.items():
        for folder in ("build/", "scripts/", "src/"):
            if folder in text:
                problems.append(f"{archive_name}: {name} speaks of {folder}, which the archive does not hold")
    for folder in INSTALL_FOLDERS[platform]:
        if folder not in texts["INSTALL.txt"]:
            problems.append(f"{archive_name}: INSTALL.txt names no {folder}")


LV2_BUNDLE = ("Grindlemark.so", "Grindlemark.ttl", "manifest.ttl", "presets.ttl")


def check_lv2_bundle(tar_path, unpacked, problems):
    """An LV2 host finds the unpacked bundle, its binary and its presets."""
    binary = os.path.join(unpacked, "Grindlemark.lv2", "Grindlemark.so")
    exports = sorted(defined_symbols(binary))
    if exports != ["lv2_descriptor", "lv2ui_descriptor"]:
        problems.append(f"{tar_path}: Grindlemark.lv2/Grindlemark.so exports {exports}")
    info = subprocess.run(["lv2info", "urn:ovk:grindlemark"], capture_output=True, text=True, timeout=60,
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
        vst3 = {"x86_64-win": 0x8664, "x86-win": 0x14C}
        wanted = sorted(["INSTALL.txt", "README.md", "x64/Grindlemark.dll", "x86/Grindlemark.dll",
                         "x64/Grindlemark.clap", "x86/Grindlemark.clap"] +
                        [f"Grindlemark.vst3/Contents/{arch}/Grindlemark.vst3" for arch in vst3])
        if names != wanted:
            problems.append(f"{zip_path}: holds {names}, expected {wanted}")
        else:
            check_dll("x86/Grindlemark.dll", archive.read("x86/Grindlemark.dll"), 0x14C, version, problems)
            check_dll("x64/Grindlemark.dll", archive.read("x64/Grindlemark.dll"), 0x8664, version, problems)
            for arch, machine in vst3.items():
                name = f"Grindlemark.vst3/Contents/{arch}/Grindlemark.vst3"
                check_dll(name, archive.read(name), machine, version, problems, VST3_WINDOWS_EXPORTS)
            for arch, machine in (("x86", 0x14C), ("x64", 0x8664)):
                name = f"{arch}/Grindlemark.clap"
                check_dll(name, archive.read(name), machine, version, problems, ("clap_entry",))
            check_texts(zip_path, {n: archive.read(n).decode() for n in ("README.md", "INSTALL.txt")}, problems,
                        "windows")

    folder = f"Grindlemark-{version}-linux-x64"
    tar_path = os.path.join(dist, folder + ".tar.gz")
    with tarfile.open(tar_path) as archive, tempfile.TemporaryDirectory() as scratch:
        names = sorted(archive.getnames())
        vst3_binary = "Grindlemark.vst3/Contents/x86_64-linux/Grindlemark.so"
        wanted = sorted([folder] + [f"{folder}/{n}" for n in
                                    ("Grindlemark.so", "Grindlemark.clap", "grindlemark-host", "README.md", "INSTALL.txt",
                                     "Grindlemark.vst3", "Grindlemark.vst3/Contents",
                                     "Grindlemark.vst3/Contents/x86_64-linux", vst3_binary, "Grindlemark.lv2")] +
                        [f"{folder}/Grindlemark.lv2/{n}" for n in LV2_BUNDLE])
        if names != wanted:
            problems.append(f"{tar_path}: holds {names}, expected {wanted}")
        else:
            archive.extractall(scratch)
            unpacked = os.path.join(scratch, folder)
            texts = {}
            for name in ("README.md", "INSTALL.txt"):
                with open(os.path.join(unpacked, name)) as text:
                    texts[name] = text.read()
            check_texts(tar_path, texts, problems, "linux")
            # ~/.vst does not exist until something makes it.
            if "mkdir -p ~/.vst" not in texts["INSTALL.txt"]:
                problems.append(f"{tar_path}: INSTALL.txt copies into ~/.vst without making it")
            # The unpacked tool loads the unpacked plug-in as a host does.
            info = subprocess.run([os.path.join(unpacked, "grindlemark-host"), "--plugin",
                                   os.path.join(unpacked, "Grindlemark.so"), "--info"],
                                  capture_output=True, text=True, timeout=60)
            if info.returncode != 0 or f"vendor {vendor_version}," not in info.stdout:
                problems.append(f"{tar_path}: the host tool does not report vendor version {vendor_version} "
                                f"for the plug-in (exit {info.returncode}): {info.stdout[-300:]}{info.stderr[-300:]}")
            exports = defined_symbols(os.path.join(unpacked, "Grindlemark.so"))
            if sorted(exports) != ["VSTPluginMain", "main"] or len(set(exports.values())) != 1:
                problems.append(f"{tar_path}: Grindlemark.so exports {exports}")
            exports = defined_symbols(os.path.join(unpacked, vst3_binary))
            if sorted(exports) != sorted(VST3_LINUX_EXPORTS):
                problems.append(f"{tar_path}: {vst3_binary} exports {sorted(exports)}")
            # The unpacked tool loads the unpacked bundle through its factory.
            info = subprocess.run([os.path.join(unpacked, "grindlemark-host"), "--plugin",
                                   os.path.join(unpacked, "Grindlemark.vst3"), "--info"],
                                  capture_output=True, text=True, timeout=60)
            if info.returncode != 0 or "Grindlemark" not in info.stdout or f"{version}, VST 3" not in info.stdout:
                problems.append(f"{tar_path}: the host tool does not load the VST3 bundle as version {version} "
                                f"(exit {info.returncode}): {info.stdout[-300:]}{info.stderr[-300:]}")
            check_lv2_bundle(tar_path, unpacked, problems)
            clap = os.path.join(unpacked, "Grindlemark.clap")
            clap_exports = sorted(defined_symbols(clap))
            if clap_exports != ["clap_entry"]:
                problems.append(f"{tar_path}: Grindlemark.clap exports {clap_exports}, expected clap_entry")
            info = subprocess.run([os.path.join(unpacked, "grindlemark-host"), "--plugin", clap, "--info"],
                                  capture_output=True, text=True, timeout=60)
            if info.returncode != 0 or f"Version     {version}, CLAP 1.1.1" not in info.stdout:
                problems.append(f"{tar_path}: the host tool does not load the CLAP plug-in at version {version} "
                                f"(exit {info.returncode}): {info.stdout[-300:]}{info.stderr[-300:]}")

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
