#!/usr/bin/env python3
"""Writes THIRD-PARTY.txt for the Windows release: which Qt modules and
which libraries bundled in Qt's source the statically linked programs
contain, under which licences, where Qt's corresponding source is, and how
to relink the programs against a modified Qt. A second file collects the
licence texts of the bundled libraries, as their licences ask.

Usage:
  third_party_notice.py --qt-version 6.4.2 --qt-source DIR --qt-prefix DIR
      --source-files F1,F2,F3 --build-record FILE --version V
      --notice OUT.txt --licences OUT.txt

The components and their copyright and licence come from the
qt_attribution.json files in Qt's source; which optional ones are in the
programs follows from the bundled libraries the Qt build installed.
Only the Python standard library is used.
"""

import argparse
import glob
import json
import os
import sys
import textwrap

# Attribution files of code that Qt Core, Qt GUI, Qt Widgets and the Windows
# platform and style plugins compile in, for this configuration (no OpenGL,
# Vulkan, network, JPEG, GIF, D-Bus; nothing for other platforms). A tuple's
# third element names the bundled library whose presence decides, or None.
COMPONENTS = [
    ("src/3rdparty/zlib", "Data Compression Library (zlib)", None),
    ("src/3rdparty/pcre2", None, "Pcre2"),
    ("src/3rdparty/double-conversion", None, None),
    ("src/3rdparty/tinycbor", None, None),
    ("src/3rdparty/easing", None, None),
    ("src/3rdparty/md4", None, None),
    ("src/3rdparty/md5", None, None),
    ("src/3rdparty/sha1", None, None),
    ("src/3rdparty/sha3", None, None),
    ("src/3rdparty/rfc6234", None, None),
    ("src/3rdparty/blake2", None, None),
    ("src/corelib/tools", None, None),
    ("src/corelib/text", None, None),
    ("src/gui/painting", None, None),
    ("src/gui/text", None, None),
    ("src/3rdparty/icc", None, None),
    ("src/3rdparty/md4c", None, None),
    ("src/3rdparty/harfbuzz-ng", None, "Harfbuzz"),
    ("src/3rdparty/freetype", None, "Freetype"),
    ("src/3rdparty/libpng", None, "Libpng"),
]


def attributions(source, folder):
    path = os.path.join(source, folder, "qt_attribution.json")
    with open(path, encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    entries = data if isinstance(data, list) else [data]
    for e in entries:
        e["_dir"] = os.path.join(source, folder)
    return entries


def bundled(prefix):
    names = set()
    for lib in glob.glob(os.path.join(prefix, "lib", "libQt6Bundled*.a")):
        names.add(os.path.basename(lib)[len("libQt6Bundled"):-len(".a")])
    return names


def wrap(text, indent="  "):
    return "\n".join(textwrap.fill(p, 76, initial_indent=indent, subsequent_indent=indent)
                     for p in text.split("\n"))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--qt-version", required=True)
    ap.add_argument("--qt-source", required=True)
    ap.add_argument("--qt-prefix", required=True)
    ap.add_argument("--source-files", required=True, help="comma-separated names of the files in dist/")
    ap.add_argument("--build-record", required=True, help="name of the build-options file in dist/")
    ap.add_argument("--version", required=True, help="MqTool's version")
    ap.add_argument("--notice", required=True)
    ap.add_argument("--licences", required=True)
    a = ap.parse_args(argv)

    present = bundled(a.qt_prefix)
    chosen = []
    for folder, only_name, library in COMPONENTS:
        # Without any bundled library installed (an unusual layout), list the
        # optional ones too rather than leave one out.
        if library is not None and present and library not in present:
            continue
        for e in attributions(a.qt_source, folder):
            if only_name is None or e.get("Name") == only_name:
                chosen.append(e)

    files = a.source_files.split(",")
    dsc = next((f for f in files if f.endswith(".dsc")), files[0])
    out = []
    out.append(f"Marq Utility (MqTool) {a.version} for Windows: third-party software")
    out.append("=" * 70)
    out.append("")
    out.append(wrap(
        "MqTool's own code is released under the MIT licence (LICENSE.txt beside this "
        "file). mqtool.exe contains the Qt " + a.qt_version + " libraries linked "
        "statically; mqtool-cli.exe contains no Qt. Qt is used under the GNU Lesser "
        "General Public License version 3 (LGPL-3.0-only), which builds on the GNU "
        "General Public License version 3: licences\\Qt-LGPL-3.0.txt and "
        "licences\\Qt-GPL-3.0.txt.", ""))
    out.append("")
    out.append(f"Qt {a.qt_version} modules in mqtool.exe (LGPL-3.0-only):")
    out.append("  Qt Core, Qt GUI, Qt Widgets; the Windows platform plugin (qwindows) and")
    out.append("  the Windows styles plugin (qwindowsvistastyle), linked in statically.")
    out.append("")
    out.append("Software bundled in Qt's source that these modules contain:")
    out.append("")
    for e in chosen:
        version = e.get("Version")
        line = "- " + e.get("Name", e.get("Id", "?"))
        if version and version != "None":
            line += " " + str(version)
        out.append(line)
        out.append(f"    licence: {e.get('LicenseId') or e.get('License') or 'public domain'}")
        if e.get("Copyright"):
            out.append(wrap("copyright: " + " ".join(str(e["Copyright"]).split()), "    "))
    out.append("")
    out.append("Their licence texts: licences\\Qt-third-party-licences.txt; Debian's record of")
    out.append("which licence covers which file of Qt's source: licences\\Qt-copyright.txt.")
    out.append("")
    out.append("Qt's corresponding source")
    out.append("-" * 25)
    out.append(wrap(
        "The Qt in these programs is built from Debian's source package qt6-base, "
        "published by the MqTool release beside the setup program (the release "
        "folder dist/) as fetched from Debian:", ""))
    for f in files:
        out.append(f"  {f}")
    out.append(wrap(
        f"Unpack it with: dpkg-source -x {dsc} (Debian's dpkg-dev; on other "
        "systems unpack the .orig archive, then the .debian archive, and apply the "
        "patches in debian/patches in the order of debian/patches/series). The "
        f"exact configure options and the compiler are in {a.build_record}, in "
        "the same place.", ""))
    out.append("")
    out.append("Relinking against a modified Qt")
    out.append("-" * 31)
    out.append(wrap(
        "MqTool's source is MIT-licensed, so you have everything needed to relink: "
        "on a Debian 12 machine, take MqTool's source of this version, unpack and "
        "change Qt's source as you wish, then run", ""))
    out.append("")
    out.append("  MQ_QT_SOURCE=/path/to/your/qt6-base bash scripts/package-windows.sh")
    out.append("")
    out.append(wrap(
        "in MqTool's source folder. The script builds your Qt with the same "
        "options (scripts/build-qt-mingw.sh) and links mqtool.exe and "
        "mqtool-cli.exe against it; the new setup program and zip are written to "
        "dist/.", ""))
    with open(a.notice, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(out) + "\n")

    texts = []
    seen = set()
    for e in chosen:
        for name in str(e.get("LicenseFile") or "").split(","):
            name = name.strip()
            if not name:
                continue
            path = os.path.normpath(os.path.join(e["_dir"], name))
            if path in seen or not os.path.isfile(path):
                continue
            seen.add(path)
            paths = [path]
            # FreeType's LICENSE.txt points to the FreeType Project License.
            ftl = os.path.join(os.path.dirname(path), "docs", "FTL.TXT")
            if os.path.basename(path) == "LICENSE.txt" and os.path.isfile(ftl) and ftl not in seen:
                seen.add(ftl)
                paths.append(ftl)
            for p in paths:
                with open(p, encoding="utf-8", errors="replace") as f:
                    body = f.read()
                texts.append(f"==== {e.get('Name')} ({os.path.relpath(p, a.qt_source)}) ====\n\n{body.rstrip()}\n")
    with open(a.licences, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("Licence texts of the software bundled in Qt's source that mqtool.exe contains\n\n")
        f.write("\n".join(texts))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
