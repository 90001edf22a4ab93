#!/usr/bin/env python3
"""Checks a Windows build of the tool: the PE header's address-space bits
and the application manifest embedded in it.

    check_windows_executable.py swfupgrade.exe
"""
import sys
import xml.etree.ElementTree as ElementTree

import pefile

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
# Windows 7, 8, 8.1, and 10 and 11 (which share one).
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def manifest_of(image):
    """The text of the RT_MANIFEST resource with id 1, or None."""
    if not hasattr(image, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for kind in image.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            continue
        for entry in kind.directory.entries:
            if entry.id != 1:
                continue
            for language in entry.directory.entries:
                data = language.data.struct
                return image.get_data(data.OffsetToData, data.Size)
    return None


def problems(path):
    image = pefile.PE(path)
    found = []
    header = image.FILE_HEADER
    optional = image.OPTIONAL_HEADER
    is64 = optional.Magic == 0x20B
    if not optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE:
        found.append("not DYNAMIC_BASE")
    if not optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT:
        found.append("not NX_COMPAT")
    if is64 and not optional.IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA:
        found.append("64-bit without HIGH_ENTROPY_VA")
    if not is64 and not header.IMAGE_FILE_LARGE_ADDRESS_AWARE:
        found.append("32-bit without LARGE_ADDRESS_AWARE")

    text = manifest_of(image)
    if text is None:
        return found + ["no application manifest (RT_MANIFEST 1)"]
    root = ElementTree.fromstring(text)
    if root.tag != ASM_V1 + "assembly":
        found.append("manifest root is " + root.tag)
    levels = root.findall(".//" + ASM_V3 + "requestedExecutionLevel")
    if [(e.get("level"), e.get("uiAccess")) for e in levels] != [("asInvoker", "false")]:
        found.append("requestedExecutionLevel is not asInvoker without uiAccess")
    systems = {e.get("Id") for e in root.findall(".//" + COMPATIBILITY + "supportedOS")}
    if systems != SUPPORTED_OS:
        found.append("supportedOS entries: %s" % sorted(systems))
    return found


def main():
    found = problems(sys.argv[1])
    for problem in found:
        print("%s: %s" % (sys.argv[1], problem))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
