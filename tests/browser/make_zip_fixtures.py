#!/usr/bin/env python3
"""Writes the ZIP reader's fixtures: the files, and python.zip with stored and
deflated entries and two names that differ only in letter case."""
import os
import sys
import zipfile

out = sys.argv[1]
files = os.path.join(out, "files")
os.makedirs(os.path.join(files, "notes"), exist_ok=True)

hello = b"Hello, archive!\n"
long_text = "".join(f"line {i}\n" for i in range(2000)).encode()
contents = {"hello.txt": hello, "notes/long.txt": long_text, "empty.txt": b""}
for name, data in contents.items():
    with open(os.path.join(files, name), "wb") as f:
        f.write(data)

with zipfile.ZipFile(os.path.join(out, "python.zip"), "w") as z:
    z.writestr(zipfile.ZipInfo("hello.txt", (1980, 1, 1, 0, 0, 0)), hello, zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo("notes/long.txt", (1980, 1, 1, 0, 0, 0)), long_text,
               zipfile.ZIP_DEFLATED)
    z.writestr(zipfile.ZipInfo("empty.txt", (1980, 1, 1, 0, 0, 0)), b"", zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo("Case.txt", (1980, 1, 1, 0, 0, 0)), b"first", zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo("case.txt", (1980, 1, 1, 0, 0, 0)), b"second", zipfile.ZIP_STORED)
    z.writestr(zipfile.ZipInfo("data.bin", (1980, 1, 1, 0, 0, 0)), bytes(range(256)),
               zipfile.ZIP_STORED)
