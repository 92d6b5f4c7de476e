#!/usr/bin/env python3
"""check_exe_resources.py EXE VERSION: reads tandor.exe's manifest and version
resource back with wrestool (Debian package icoutils) and fails, naming what
is wrong, unless the exe holds exactly one manifest that runs it as the
invoker on Windows 7 to 11, and a version resource whose numbers and texts
give VERSION (the version of project())."""

import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

RT_VERSION, RT_MANIFEST = 16, 24
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
REQUIRED_STRINGS = ("FileDescription", "FileVersion", "LegalCopyright", "OriginalFilename",
                    "ProductName", "ProductVersion")

problems = []


def resources(exe, resource_type):
    """The raw resources of one type: a list of (name, bytes)."""
    listing = subprocess.run(["wrestool", "-l", f"--type={resource_type}", exe],
                             capture_output=True, text=True, check=False).stdout
    names = [word.split("=", 1)[1] for line in listing.splitlines() for word in line.split()
             if word.startswith("--name=")]
    return [(name, subprocess.run(["wrestool", "-x", "--raw", f"--type={resource_type}",
                                   f"--name={name}", exe], capture_output=True,
                                  check=True).stdout) for name in names]


def check_manifest(exe):
    manifests = resources(exe, RT_MANIFEST)
    if not manifests:
        problems.append("no manifest")
        return
    if [name for name, _ in manifests] != ["1"]:
        problems.append(f"manifests {[name for name, _ in manifests]}: not exactly one, id 1")
    try:
        root = ElementTree.fromstring(manifests[0][1])
    except ElementTree.ParseError as error:
        problems.append(f"manifest is not well-formed XML ({error}): Windows would not start it")
        return
    if root.tag != ASM_V1 + "assembly":
        problems.append(f"manifest's root is {root.tag}, not assembly")
    levels = [element.get("level") for element in root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        problems.append(f"requestedExecutionLevel: {levels}, not asInvoker")
    declared = {element.get("Id", "").lower() for element in root.iter(COMPATIBILITY + "supportedOS")}
    for guid, release in SUPPORTED_OS.items():
        if guid not in declared:
            problems.append(f"manifest does not declare {release} (supportedOS {guid})")
    # A UTF-8 code page would change the bytes that registry strings give.
    if any(element.tag.endswith("}activeCodePage") for element in root.iter()):
        problems.append("manifest declares an activeCodePage")


def read_block(data, offset):
    """One block of a version resource (VS_VERSIONINFO and what it holds):
    (key, value bytes, children), and where it ends."""
    length, value_length, is_text = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_end = min(position + value_length * (2 if is_text else 1), end)
    value = data[position:value_end]
    position = (value_end + 3) & ~3
    children = []
    while position < end:
        child, child_end = read_block(data, position)
        children.append(child)
        position = (child_end + 3) & ~3
    return (key, value, children), end


def check_version(exe, version):
    blocks = resources(exe, RT_VERSION)
    if len(blocks) != 1:
        problems.append(f"{len(blocks)} version resources, not one")
        if not blocks:
            return
    (key, fixed, children), _ = read_block(blocks[0][1], 0)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        problems.append("version resource has no VS_FIXEDFILEINFO")
        return
    numbers = ".".join((version.split(".") + ["0"] * 4)[:4])
    for what, high, low in (("FILEVERSION", file_ms, file_ls),
                            ("PRODUCTVERSION", product_ms, product_ls)):
        found = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
        if found != numbers:
            problems.append(f"{what} {found}, not {numbers}")
    tables = {table_key.upper(): {name: text.decode("utf-16-le").rstrip("\0")
                                  for name, text, _ in strings}
              for block_key, _, block_children in children if block_key == "StringFileInfo"
              for table_key, _, strings in block_children}
    translations = [struct.unpack_from("<HH", value, i)
                    for block_key, _, block_children in children if block_key == "VarFileInfo"
                    for var_key, value, _ in block_children if var_key == "Translation"
                    for i in range(0, len(value) - 3, 4)]
    # Explorer looks the texts up by the language and code page in Translation.
    table_keys = [f"{language:04X}{codepage:04X}" for language, codepage in translations]
    table = next((tables[table_key] for table_key in table_keys if table_key in tables), None)
    if table is None:
        problems.append(f"no string table for Translation {table_keys} (tables: {list(tables)})")
        return
    for name in REQUIRED_STRINGS:
        if not table.get(name):
            problems.append(f"version resource has no {name}")
    for name, expected in (("FileVersion", version), ("ProductVersion", version),
                           ("OriginalFilename", "tandor.exe")):
        if table.get(name, expected) != expected:
            problems.append(f"{name} {table[name]!r}, not {expected!r}")


def main():
    exe, version = sys.argv[1:]
    check_manifest(exe)
    check_version(exe, version)
    for problem in problems:
        print(f"{exe}: {problem}", file=sys.stderr)
    sys.exit(1 if problems else 0)


main()
