"""How the launcher reads the content server's two documents, rule for rule.

The launcher's C++ reader is the authority: these functions follow it byte
for byte (a textual field reader without unescaping, the server path check,
the manifest's entry rules and the Windows name rules of the install
folder), so that whatever the publishing tools write or accept is exactly
what a player's launcher accepts. Texts are bytes, as the launcher sees them.
"""

BLANKS = b" \t\r\n"
PATH_BYTES = frozenset(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-./_$")
MAX_SERVER_PATH = 300
MANIFEST_PATH = "/pc/manifest.json"
MANIFEST_LIMIT = 4194304
RECORD_PATH = "/pc/launcher/latest.json"
RECORD_LIMIT = 65536
MAX_LAUNCHER_BYTES = 268435456
BLOCK_MEMBERS = (b"blocksUrl", b"blocksSize", b"blocksHash", b"blockSize")
BLOCK_SIZE_MIN = 512
BLOCK_SIZE_MAX = 1048576
BLOCK_MAP_HEADER = 28
BLOCK_MAP_MAX_BLOCKS = 1 << 20
HEX = frozenset(b"0123456789abcdef")
LAUNCHER_FOLDER = "/pc/launcher/"

# Files the launcher keeps in the install folder itself.
INDEX_NAMES = (b"korval_files.idx", b"korval_files.idx.tmp")
PART_SUFFIX = b".part"
DEVICE_NAMES = (b"CON", b"PRN", b"AUX", b"NUL", b"CONIN$", b"CONOUT$")


def find_member_colon(text, name):
    """The colon after the first "name" that is a member name (followed,
    after blanks, by a colon); a string value spelling it is none. -1 if none."""
    key = b'"' + name + b'"'
    at = text.find(key)
    while at >= 0:
        after = at + len(key)
        while after < len(text) and text[after] in BLANKS:
            after += 1
        if text[after:after + 1] == b":":
            return after
        at = text.find(key, at + 1)
    return -1


def json_field(text, name):
    """The raw value of the first member "name" anywhere in text."""
    colon = find_member_colon(text, name)
    if colon < 0:
        return b""
    start = colon + 1
    while start < len(text) and text[start] in BLANKS:
        start += 1
    if start >= len(text):
        return b""
    if text[start:start + 1] == b'"':
        close = text.find(b'"', start + 1)
        return b"" if close < 0 else text[start + 1:close]
    end = start
    while end < len(text) and text[end] not in b",}" and text[end] not in BLANKS:
        end += 1
    return text[start:end]


def is_safe_server_path(path):
    if not path or len(path) > MAX_SERVER_PATH or path[:1] != b"/":
        return False
    if b".." in path or b"//" in path:
        return False
    return all(c in PATH_BYTES for c in path)


def parse_decimal_u64(text):
    i = 0
    while i < len(text) and text[i] in BLANKS:
        i += 1
    value = 0
    while i < len(text) and 0x30 <= text[i] <= 0x39:
        value = (value * 10 + text[i] - 0x30) & 0xFFFFFFFFFFFFFFFF
        i += 1
    return value


def parse_unsigned32(text):
    value = 0
    for c in text:
        if not 0x30 <= c <= 0x39:
            break
        value = value * 10 + c - 0x30
        if value > 0xFFFFFFFF:
            return 0xFFFFFFFF
    return value


def is_device_name(component):
    stem = component.split(b".", 1)[0].rstrip(b" ").upper()
    if stem in DEVICE_NAMES:
        return True
    return len(stem) == 4 and stem[:3] in (b"COM", b"LPT") and 0x31 <= stem[3] <= 0x39


def windows_path_key(path):
    """The path as Windows resolves it: lower case, trailing dots and blanks gone."""
    return b"/".join(c.lower().rstrip(b". ") for c in path.split(b"/"))


def installable_problem(path):
    """Why the install folder cannot hold this path, or None."""
    key = windows_path_key(path)
    for component, original in zip(key.split(b"/"), path.split(b"/")):
        if not component:
            return "'%s' is only dots or blanks, which Windows drops" % original.decode("utf-8", "replace")
        if is_device_name(component):
            return "'%s' is a reserved Windows device name" % original.decode("utf-8", "replace")
    if key.endswith(PART_SUFFIX):
        return "names ending in .part are the launcher's partial downloads"
    if key in INDEX_NAMES:
        return "the launcher keeps its file index under this name"
    return None


class InstallPaths:
    """The files and folders claimed so far, by their Windows keys."""

    def __init__(self):
        self.files = {}
        self.folders = {}

    def claim(self, path):
        """None when the path is free, else the earlier path it collides with."""
        key = windows_path_key(path)
        if key in self.files:
            return self.files[key]
        if key in self.folders:
            return self.folders[key]
        parts = key.split(b"/")
        folders = [b"/".join(parts[:n]) for n in range(1, len(parts))]
        for folder in folders:
            if folder in self.files:
                return self.files[folder]
        self.files[key] = path
        for folder in folders:
            self.folders.setdefault(folder, path)
        return None


def entry_problem(base_path, url, hash_value, paths):
    """Why the launcher refuses one manifest entry, or None (claims its path)."""
    if not url:
        return "empty url"
    if not is_safe_server_path(b"/" + url):
        return "not a relative path of the characters A-Z a-z 0-9 - . _ $ and /, without '..'"
    if len(hash_value) != 64:
        return "hash is %d characters, not 64" % len(hash_value)
    if not is_safe_server_path(base_path + b"/" + url):
        return "server path is %d bytes, over %d" % (len(base_path) + 1 + len(url), MAX_SERVER_PATH)
    problem = installable_problem(url)
    if problem:
        return problem
    other = paths.claim(url)
    if other is not None:
        return "names the same file or folder on Windows as %s" % other.decode("utf-8", "replace")
    return None


def _log2_ceil(value):
    return max(value - 1, 0).bit_length()


def block_map_shape(size, block_size):
    """(blocks, weak bytes, strong bytes, description bytes) of a file's
    description; description bytes 0 when the launcher takes none."""
    if not BLOCK_SIZE_MIN <= block_size <= BLOCK_SIZE_MAX or block_size & (block_size - 1):
        return 0, 0, 0, 0
    blocks = size // block_size + (1 if size % block_size else 0)
    if blocks > BLOCK_MAP_MAX_BLOCKS:
        return blocks, 0, 0, 0
    size_bits = _log2_ceil(max(size, 1))
    weak_bits = max(size_bits + _log2_ceil(block_size) - 8, 0)
    weak = min(4, max(2, (weak_bits + 15) // 16))
    strong = min(8, max(4, (20 + size_bits + _log2_ceil(max(blocks, 1)) + 15) // 16))
    return blocks, weak, strong, BLOCK_MAP_HEADER + (weak + strong) * blocks


def block_map_bytes(size, block_size):
    """A description's size for a file, 0 when the launcher takes none that big."""
    return block_map_shape(size, block_size)[3]


def entry_blocks(base_path, obj, size):
    """(None or (url, size, hash, block size), problem) of an entry's
    optional block description: none of its members, or all of them valid."""
    if all(find_member_colon(obj, name) < 0 for name in BLOCK_MEMBERS):
        return None, None
    url = json_field(obj, b"blocksUrl")
    blocks_size = parse_decimal_u64(json_field(obj, b"blocksSize"))
    digest = json_field(obj, b"blocksHash").lower()
    block_size = parse_decimal_u64(json_field(obj, b"blockSize"))
    if not url or not is_safe_server_path(b"/" + url) or \
            not is_safe_server_path(base_path + b"/" + url):
        return None, "blocksUrl is not a safe relative server path"
    if len(digest) != 64 or not all(c in HEX for c in digest):
        return None, "blocksHash is not 64 hex digits"
    wanted = block_map_bytes(size, block_size)
    if wanted == 0:
        return None, "blockSize %d is not a power of two from %d to %d, or the file has more " \
                     "than %d blocks" % (block_size, BLOCK_SIZE_MIN, BLOCK_SIZE_MAX,
                                         BLOCK_MAP_MAX_BLOCKS)
    if blocks_size != wanted:
        return None, "blocksSize %d, a description of this file is %d bytes" % (blocks_size, wanted)
    return (url, blocks_size, digest, block_size), None


def parse_manifest(text, with_blocks=False):
    """(base_path, [(url, hash, size)], error); error None when the launcher
    accepts it. with_blocks: entries end with their block description (or None)."""
    if len(text) > MANIFEST_LIMIT:
        return None, [], "manifest is %d bytes, over the launcher's %d" % (len(text), MANIFEST_LIMIT)
    base_path = json_field(text, b"basePath")
    files_at = text.find(b'"files"')
    if files_at < 0:
        return None, [], 'no "files" key'
    if not is_safe_server_path(base_path):
        return None, [], "basePath %r is not a safe server path" % base_path.decode("utf-8", "replace")
    entries, paths, scan = [], InstallPaths(), files_at
    while True:
        opening = text.find(b"{", scan)
        if opening < 0:
            break
        closing = text.find(b"}", opening)
        if closing < 0:
            break
        obj = text[opening:closing + 1]
        scan = closing + 1
        url = json_field(obj, b"url")
        hash_value = json_field(obj, b"hash").lower()
        size = parse_decimal_u64(json_field(obj, b"size"))
        problem = entry_problem(base_path, url, hash_value, paths)
        blocks = None
        if not problem:
            blocks, problem = entry_blocks(base_path, obj, size)
        if problem:
            return base_path, entries, "entry '%s': %s" % (url.decode("utf-8", "replace"), problem)
        entries.append((url, hash_value, size, blocks) if with_blocks else (url, hash_value, size))
    if not entries:
        return base_path, [], "no files"
    return base_path, entries, None


def is_valid_version(version):
    return 1 <= len(version) <= 20 and all(c in b"0123456789." for c in version)


def version_numbers(version):
    """The four components the launcher compares (missing ones are 0)."""
    numbers, i = [], 0
    for _ in range(4):
        value = 0
        while i < len(version) and 0x30 <= version[i] <= 0x39:
            value = value * 10 + version[i] - 0x30
            i += 1
        if i < len(version) and version[i:i + 1] == b".":
            i += 1
        numbers.append(value)
    return tuple(numbers)


def compare_versions(latest, current):
    a, b = version_numbers(latest), version_numbers(current)
    return (a > b) - (a < b)


def resolve_update_path(url, base_url):
    if url.startswith(base_url):
        return url[len(base_url) - 1:]
    if b"://" in url:
        return b""
    if url and url[:1] != b"/":
        return LAUNCHER_FOLDER.encode() + url
    return url


def read_update_record(text, base_url=b"https://content.invalid/"):
    """(record dict, error); error None when the launcher would take the record."""
    if len(text) > RECORD_LIMIT:
        return None, "latest.json is %d bytes, over the launcher's %d" % (len(text), RECORD_LIMIT)
    record = {
        "version": json_field(text, b"version"),
        "url": json_field(text, b"url"),
        "sha256": json_field(text, b"sha256"),
        "size": parse_unsigned32(json_field(text, b"size")),
    }
    if not is_valid_version(record["version"]):
        return record, "version %r is not 1 to 20 digits and dots" % record["version"].decode("utf-8", "replace")
    record["path"] = resolve_update_path(record["url"], base_url)
    if not is_safe_server_path(record["path"]):
        return record, "url %r does not resolve to a safe path on this server" % record["url"].decode("utf-8", "replace")
    if len(record["sha256"]) != 64:
        return record, "sha256 is %d characters, not 64" % len(record["sha256"])
    if not 1 <= record["size"] <= MAX_LAUNCHER_BYTES:
        return record, "size %d is not 1 to %d" % (record["size"], MAX_LAUNCHER_BYTES)
    return record, None


def document_field(path, name):
    """One field of a published document on disk as text, None when the
    document is not there."""
    try:
        with open(path, "rb") as f:
            return json_field(f.read(), name).decode("ascii", "replace")
    except FileNotFoundError:
        return None
