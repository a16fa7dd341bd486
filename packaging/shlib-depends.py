#!/usr/bin/env python3
"""Prints the Depends of a package of cross-built programs, read as dpkg-shlibdeps reads them
natively: each library a program needs (its ELF NEEDED entries) is looked up in the shlibs
files of the packages the arm64 root was made from.

    packaging/shlib-depends.py SYSROOT FILE...

SYSROOT keeps the downloaded packages in var/cache/apt/archives. Files that are not ELF are
passed over. A library that no package's shlibs names is an error: the package would not say
that it needs it."""
import glob
import os
import re
import subprocess
import sys


def needed(path):
    with open(path, "rb") as f:
        if f.read(4) != b"\x7fELF":
            return []
    out = subprocess.run(["readelf", "-d", path], check=True, capture_output=True,
                         text=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", out)


def shlibs(sysroot):
    """(library name, version) -> the dependency its package's shlibs give."""
    table = {}
    for deb in sorted(glob.glob(os.path.join(sysroot, "var/cache/apt/archives/*.deb"))):
        info = subprocess.run(["dpkg-deb", "--info", deb, "shlibs"], capture_output=True,
                              text=True)
        if info.returncode != 0:
            continue
        for line in info.stdout.splitlines():
            fields = line.split(None, 2)
            if len(fields) < 3 or line.startswith("#") or fields[0].endswith(":"):
                continue
            table.setdefault((fields[0], fields[1]), fields[2].strip())
    return table


def key(soname):
    m = re.match(r"^(.*)\.so\.(.*)$", soname) or re.match(r"^(.*)-([^-]+)\.so$", soname)
    return (m.group(1), m.group(2)) if m else (soname, "")


def newer(a, b):
    """The stricter of two constraints on one package ("pkg (>= 1.2)" or "pkg")."""
    va = re.search(r"\(>= ([^)]+)\)", a)
    vb = re.search(r"\(>= ([^)]+)\)", b)
    if not vb:
        return a
    if not va:
        return b
    later = subprocess.run(["dpkg", "--compare-versions", va.group(1), "ge", vb.group(1)])
    return a if later.returncode == 0 else b


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: shlib-depends.py SYSROOT FILE...")
    table = shlibs(sys.argv[1])
    wanted = {}
    missing = []
    for path in sys.argv[2:]:
        for soname in needed(path):
            dependency = table.get(key(soname))
            if dependency is None:
                missing.append(f"{soname} (needed by {os.path.basename(path)})")
                continue
            for alternative in dependency.split(","):
                alternative = alternative.strip()
                name = alternative.split()[0]
                wanted[name] = newer(wanted.get(name, alternative), alternative)
    if missing:
        sys.exit("no package's shlibs name: " + ", ".join(sorted(set(missing))))
    print(", ".join(wanted[name] for name in sorted(wanted)))


if __name__ == "__main__":
    main()
