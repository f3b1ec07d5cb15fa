"""Block descriptions of large game files (docs/block_maps.md), written beside
each such file in its release so that a launcher holding an older copy
fetches only the blocks it does not already have.

The launcher's reader (launcher/blocks/block_map.cpp) is the authority on
the format; this writer and its limits follow it.
"""
import hashlib
import itertools
import os
import struct

from . import launcher_rules as rules

MAGIC = b"KVBLOCKS"
VERSION = 2
BLOCK_SIZE = 2048
HEADER = struct.Struct("<8sIIQBBH")
# Below this a whole download costs little more than a description would
# save, and each description is one more request.
THRESHOLD = 1 << 20
SUFFIX = ".blocks"
READ = 1 << 20


def description_bytes(size, block_size=BLOCK_SIZE):
    return rules.block_map_shape(size, block_size)[3]


def wanted(size):
    """Whether a file of this size is published with a description."""
    return size >= THRESHOLD and description_bytes(size) != 0


def weak_checksum(block):
    """rsync's checksum of one whole block: the sum of the running sums and
    the byte sum, each modulo 2^16, the first one low."""
    return (sum(itertools.accumulate(block)) & 0xFFFF) | ((sum(block) & 0xFFFF) << 16)


def block_entry(block, weak_bytes, strong_bytes, block_size=BLOCK_SIZE):
    """One entry; a short last block counts as padded with zeros."""
    if len(block) < block_size:
        block = block + bytes(block_size - len(block))
    weak = weak_checksum(block).to_bytes(4, "little")[:weak_bytes]
    return weak + hashlib.sha256(block).digest()[:strong_bytes]


def header(size, block_size=BLOCK_SIZE):
    _, weak, strong, _ = rules.block_map_shape(size, block_size)
    return HEADER.pack(MAGIC, VERSION, block_size, size, weak, strong, 0)


def is_current(path, size, block_size=BLOCK_SIZE):
    """Whether `path` has the size and header of this format's description of
    a file of `size` bytes (what an earlier release wrote may be older)."""
    with open(path, "rb") as f:
        start = f.read(HEADER.size)
        return f.seek(0, 2) == description_bytes(size, block_size) and \
            start == header(size, block_size)


def write_description(source, target, block_size=BLOCK_SIZE):
    """Describes `source` into the new file `target`; (sha256, size) of what
    was written."""
    digest, written, described = hashlib.sha256(), 0, 0
    with open(source, "rb") as src, open(target, "xb") as dst:
        size = src.seek(0, 2)
        src.seek(0)
        _, weak, strong, _ = rules.block_map_shape(size, block_size)
        start = header(size, block_size)
        dst.write(start)
        digest.update(start)
        written += len(start)
        for chunk in iter(lambda: src.read(READ), b""):
            described += len(chunk)
            out = b"".join(block_entry(chunk[i:i + block_size], weak, strong, block_size)
                           for i in range(0, len(chunk), block_size))
            dst.write(out)
            digest.update(out)
            written += len(out)
        dst.flush()
        os.fsync(dst.fileno())
        if described != size or written != description_bytes(size, block_size):
            raise OSError("%s changed while it was being described" % source)
    return digest.hexdigest(), written
