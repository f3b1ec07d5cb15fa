"""Block descriptions of large game files (docs/block_maps.md), written beside
each such file in its release so that a launcher holding an older copy
fetches only the blocks it does not already have.

The launcher's reader (launcher/download/block_map.cpp) is the authority on
the format; this writer and its limits follow it.
"""
import hashlib
import itertools
import os
import struct

MAGIC = b"KVBLOCKS"
VERSION = 1
BLOCK_SIZE = 2048
STRONG_BYTES = 8
HEADER = struct.Struct("<8sIIQ")
ENTRY = struct.Struct("<I8s")
# The launcher refuses a description over this; files that would need a
# bigger one are published without, and download whole.
LIMIT = 32 << 20
# Below this a whole download costs little more than a description would
# save, and each description is one more request.
THRESHOLD = 1 << 20
SUFFIX = ".blocks"
READ = 1 << 20


def description_bytes(size, block_size=BLOCK_SIZE):
    blocks = (size + block_size - 1) // block_size
    return HEADER.size + ENTRY.size * blocks


def wanted(size):
    """Whether a file of this size is published with a description."""
    return size >= THRESHOLD and description_bytes(size) <= LIMIT


def weak_checksum(block):
    """rsync's checksum of one whole block: the byte sum and the sum of the
    running sums, each modulo 2^16."""
    return (sum(block) & 0xFFFF) | ((sum(itertools.accumulate(block)) & 0xFFFF) << 16)


def block_entry(block, block_size=BLOCK_SIZE):
    """One entry; a short last block counts as padded with zeros."""
    if len(block) < block_size:
        block = block + bytes(block_size - len(block))
    return ENTRY.pack(weak_checksum(block), hashlib.sha256(block).digest()[:STRONG_BYTES])


def write_description(source, target, block_size=BLOCK_SIZE):
    """Describes `source` into the new file `target`; (sha256, size) of what
    was written, and the size of the file described."""
    digest, written, described = hashlib.sha256(), 0, 0
    with open(source, "rb") as src, open(target, "xb") as dst:
        size = src.seek(0, 2)
        src.seek(0)
        header = HEADER.pack(MAGIC, VERSION, block_size, size)
        dst.write(header)
        digest.update(header)
        written += len(header)
        for chunk in iter(lambda: src.read(READ), b""):
            described += len(chunk)
            out = b"".join(block_entry(chunk[i:i + block_size], block_size)
                           for i in range(0, len(chunk), block_size))
            dst.write(out)
            digest.update(out)
            written += len(out)
        dst.flush()
        os.fsync(dst.fileno())
        if described != size or written != description_bytes(size, block_size):
            raise OSError("%s changed while it was being described" % source)
    return digest.hexdigest(), written
