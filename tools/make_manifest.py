#!/usr/bin/env python3
"""Prints the content server's manifest for every file below a folder, as the
launcher reads it: {"basePath": BASE, "files": [{"url", "hash", "size"}]},
urls relative to the folder with "/", in sorted order.

Usage: make_manifest.py FOLDER [BASE_PATH]   (BASE_PATH defaults to /pc/files)
"""
import hashlib
import json
import os
import sys


def entries(base):
    for folder, dirs, names in os.walk(base):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            digest, size = hashlib.sha256(), 0
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    digest.update(block)
                    size += len(block)
            yield {"url": os.path.relpath(path, base).replace(os.sep, "/"),
                   "hash": digest.hexdigest(), "size": size}


if __name__ == "__main__":
    base_path = sys.argv[2] if len(sys.argv) > 2 else "/pc/files"
    print(json.dumps({"basePath": base_path, "files": list(entries(sys.argv[1]))}, indent=1))
