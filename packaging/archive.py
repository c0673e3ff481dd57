#!/usr/bin/env python3
"""Writes a folder as a .zip or a .tar.gz whose bytes depend only on the files' names, contents
and executable bits: entries sorted by name, every time the one given, owner root, mode 0755 for
folders and executables and 0644 for the rest, no name or time in the gzip header.

  archive.py EPOCH FOLDER OUTPUT.zip|OUTPUT.tar.gz
"""
import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01: a zip file holds no earlier time


def entries(folder):
    """(name in the archive, path, is a folder) of everything under folder, sorted by name."""
    found = []
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(root, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, "/"), path,
                          os.path.isdir(path)))
    return sorted(found)


def mode(path, is_folder):
    return 0o755 if is_folder or os.stat(path).st_mode & stat.S_IXUSR else 0o644


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write_zip(items, epoch, out):
    stamp = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    with zipfile.ZipFile(out, "w") as archive:
        for name, path, is_folder in items:
            info = zipfile.ZipInfo(name + "/" if is_folder else name, stamp)
            info.create_system = 3  # Unix, so that unzip keeps the modes
            kind = stat.S_IFDIR if is_folder else stat.S_IFREG
            info.external_attr = (kind | mode(path, is_folder)) << 16 | (0x10 if is_folder else 0)
            if is_folder:
                archive.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, read(path), compresslevel=9)


def write_tar_gz(items, epoch, out):
    with open(out, "wb") as raw, \
            gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch,
                          compresslevel=9) as gz, \
            tarfile.open(fileobj=gz, mode="w", format=tarfile.GNU_FORMAT) as archive:
        for name, path, is_folder in items:
            info = tarfile.TarInfo(name)
            info.mtime, info.mode = epoch, mode(path, is_folder)
            info.uid = info.gid = 0
            info.uname = info.gname = "root"
            if is_folder:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
            else:
                info.size = os.path.getsize(path)
                with open(path, "rb") as f:
                    archive.addfile(info, f)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    epoch, folder, out = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    writer = write_zip if out.endswith(".zip") else write_tar_gz
    writer(entries(folder), epoch, out + ".tmp")
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
