#!/usr/bin/env python3
"""Checks the Windows package: one folder named as the zip, holding the
tool, its licence and manual as text, and the library's headers and
archive, with nothing laid out for a Unix system.

    check_windows_zip.py swfupgrade-1.0.0-win64.zip
"""
import os
import sys
import zipfile

EXPECTED = [
    "swfupgrade.exe",
    "LICENSE.txt",
    "README.txt",
    "include/qor/xml/xml.h",
    "include/qor/xml/xml_node.h",
    "include/qor/common/multi_tree.h",
    "include/qor/version.h",
    "lib/libqorxml.a",
    "lib/cmake/qor/qorConfig.cmake",
]


def problems(path):
    found = []
    top = os.path.basename(path)[: -len(".zip")]
    with zipfile.ZipFile(path) as archive:
        names = [info.filename for info in archive.infolist() if not info.is_dir()]
        inside = set()
        for name in names:
            if not name.startswith(top + "/"):
                found.append("outside the folder %s: %s" % (top, name))
            inside.add(name[len(top) + 1 :])
        for name in EXPECTED:
            if name not in inside:
                found.append("missing " + name)
        for name in sorted(inside):
            parts = name.split("/")
            if parts[0] in ("usr", "bin", "share", "etc") or name.endswith(".gz") or "/man" in "/" + name:
                found.append("laid out for Unix: " + name)
            if len(parts) == 1 and "." not in name:
                found.append("no extension at the top: " + name)
        if "swfupgrade.exe" in inside and archive.read(top + "/swfupgrade.exe")[:2] != b"MZ":
            found.append("swfupgrade.exe is not a Windows program")
        for text in ("README.txt", "LICENSE.txt"):
            if text in inside:
                data = archive.read(top + "/" + text)
                if b"\x08" in data:
                    found.append(text + " holds overstrike backspaces")
                if text == "README.txt" and (b"\r\n" not in data or b"swfupgrade" not in data):
                    found.append("README.txt is not the manual as Windows text")
    return found


def main():
    found = problems(sys.argv[1])
    for problem in found:
        print("%s: %s" % (sys.argv[1], problem))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
