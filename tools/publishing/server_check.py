"""Checks a deployed content server over HTTPS as the launcher will use it.

Requests look like the launcher's (user agent, "Cache-Control: no-cache", no
Accept-Encoding), so the answers are the ones players get. Every problem is
one line; nothing stops at the first one. Lines starting "note: " tell what
the server does where the launcher copes either way.
"""
import concurrent.futures
import hashlib
import http.client
import re
import ssl
import threading
import urllib.parse

from . import launcher_rules as rules
from . import pe_version
from . import signing

LAUNCHER_HEADERS = {"User-Agent": "KorvalLauncher", "Cache-Control": "no-cache"}
WORKERS = 4
TIMEOUT = 30


class Server:
    """One HTTPS connection per thread to the one host, like the launcher's workers."""

    def __init__(self, base_url, cafile=None, insecure=False):
        parts = urllib.parse.urlsplit(base_url)
        if parts.scheme != "https" or not parts.hostname:
            raise ValueError("%s: give the server as https://host[:port]/" % base_url)
        self.host, self.port = parts.hostname, parts.port or 443
        self.base_url = "https://%s/" % parts.netloc
        self.context = ssl.create_default_context(cafile=cafile)
        if insecure:
            self.context.check_hostname = False
            self.context.verify_mode = ssl.CERT_NONE
        self.local = threading.local()
        self.lock = threading.Lock()
        self.connections = []

    def close(self):
        """Closes the connections of every thread."""
        with self.lock:
            for connection in self.connections:
                connection.close()
            self.connections = []

    def get(self, path, extra=None, limit=None, sink=None):
        """(status, headers as a lower-case dict, body or None when sunk).
        Bodies go to sink(block) when given, so large files are not held."""
        headers = dict(LAUNCHER_HEADERS, **(extra or {}))
        for attempt in (1, 2):
            connection = getattr(self.local, "connection", None)
            if connection is None:
                connection = http.client.HTTPSConnection(self.host, self.port, timeout=TIMEOUT,
                                                         context=self.context)
                self.local.connection = connection
                with self.lock:
                    self.connections.append(connection)
            try:
                connection.request("GET", path, headers=headers)
                response = connection.getresponse()
                answer = {k.lower(): v for k, v in response.getheaders()}
                body = bytearray()
                while True:
                    block = response.read(1 << 20)
                    if not block:
                        break
                    if sink:
                        sink(block)
                    else:
                        body += block
                        if limit is not None and len(body) > limit:
                            connection.close()
                            self.local.connection = None
                            break
                if answer.get("connection", "").lower() == "close":
                    connection.close()
                    self.local.connection = None
                return response.status, answer, None if sink else bytes(body)
            except (http.client.HTTPException, ConnectionError) as e:
                # A kept-alive connection the server closed meanwhile: once more, fresh.
                connection.close()
                self.local.connection = None
                if attempt == 2:
                    raise OSError(str(e))


def check_document_headers(name, headers, problems):
    cache = headers.get("cache-control", "")
    tokens = {t.strip().split("=")[0].lower() for t in cache.split(",") if t.strip()}
    max_age_zero = any(t.strip().lower() in ("max-age=0", "s-maxage=0") for t in cache.split(","))
    if not (tokens & {"no-cache", "no-store"} or max_age_zero):
        problems.append("%s: Cache-Control is '%s'; without no-cache a cache on the way may "
                        "serve an old document after a publish" % (name, cache or "(none)"))
    check_no_encoding(name, headers, problems)


def check_no_encoding(name, headers, problems):
    encoding = headers.get("content-encoding", "identity").lower()
    if encoding != "identity":
        problems.append("%s: answered with Content-Encoding %s; the launcher neither asks for "
                        "nor decodes compression, and ranges would count compressed bytes"
                        % (name, encoding))


def fetch_document(server, path, limit, problems):
    try:
        status, headers, body = server.get(path, limit=limit)
    except (OSError, ssl.SSLError) as e:
        problems.append("%s: request failed: %s" % (path, e))
        return None
    if status != 200:
        problems.append("%s: status %d, the launcher needs 200" % (path, status))
        return None
    if len(body) > limit:
        problems.append("%s: over the launcher's limit of %d bytes" % (path, limit))
        return None
    check_document_headers(path, headers, problems)
    return body


def check_signature(server, path, text, keys, problems):
    """The document's .sig as a launcher holding these public keys judges it.
    Fetched after the document, like the launcher does."""
    name = path.rsplit("/", 1)[1]
    sig_path = path + ".sig"
    body = fetch_document(server, sig_path, signing.MAX_SIGNATURE_FILE, problems)
    if body is None:
        return
    release, lines, error = signing.parse_signature_file(body, name)
    if error:
        problems.append("%s: malformed: %s" % (sig_path, error))
        return
    known = {signing.key_id(point): point for point in keys}
    message = signing.signed_message(name, release, text)
    for key, rs in lines:
        if key in known and not signing.verify(known[key], message, rs):
            problems.append("%s: the signature of key %s does not verify: %s is not the "
                            "document that was signed" % (sig_path, key, path))
    if not any(key in known for key, _ in lines):
        problems.append("%s: signed with key %s, none of the given public keys (%s)"
                        % (sig_path, ", ".join(key for key, _ in lines), ", ".join(known)))


def check_file(server, path, size, digest, keep=None):
    """Problems of one file: status, size, content, compression. keep: a dict
    of (first, last) ranges, given their bytes once the file proves right."""
    hasher, received = hashlib.sha256(), [0]
    pieces = {r: bytearray() for r in keep or ()}

    def sink(block):
        hasher.update(block)
        for (first, last), piece in pieces.items():
            start, end = max(first, received[0]), min(last + 1, received[0] + len(block))
            piece += block[start - received[0]:max(start, end) - received[0]]
        received[0] += len(block)
    try:
        status, headers, _ = server.get(path, sink=sink)
    except (OSError, ssl.SSLError) as e:
        return ["%s: request failed: %s" % (path, e)]
    if status != 200:
        return ["%s: status %d, the launcher needs 200" % (path, status)]
    problems = []
    check_no_encoding(path, headers, problems)
    if received[0] != size:
        problems.append("%s: %d bytes, the manifest says %d" % (path, received[0], size))
    elif hasher.hexdigest() != digest:
        problems.append("%s: content differs from the manifest's hash" % path)
    else:
        for r, piece in pieces.items():
            keep[r] = bytes(piece)
    return problems


def check_range(server, path, size, problems, first, last=None):
    """A range request as a launcher makes it: the rest of a file from
    `first` on, to resume it, or bytes `first` to `last` of a described file,
    to build it from blocks of an older copy."""
    if last is None:
        asked_range, last = "bytes=%d-" % first, size - 1
        name, cost = "range request", "every resume would start the file again"
    else:
        asked_range = "bytes=%d-%d" % (first, last)
        name, cost = "block range request", "every block update would download the whole file"
    for extra in ({}, {"Accept-Encoding": "gzip, deflate, br"}):
        received = [0]

        def count(block):
            received[0] += len(block)
        try:
            status, headers, _ = server.get(path, dict(extra, Range=asked_range), sink=count)
        except (OSError, ssl.SSLError) as e:
            problems.append("%s: %s failed: %s" % (path, name, e))
            return
        asked = " (asked with Accept-Encoding)" if extra else ""
        want = "bytes %d-%d/%d" % (first, last, size)
        if status != 206:
            problems.append("%s: %s answered %d, not 206%s; %s" % (path, name, status, asked, cost))
            continue
        if headers.get("content-range") != want:
            problems.append("%s: %s answer has Content-Range '%s', not '%s'%s"
                            % (path, name, headers.get("content-range", "(none)"), want, asked))
        check_no_encoding("%s %s answer%s" % (path, name, asked), headers, problems)
        if received[0] != last + 1 - first:
            problems.append("%s: %s answer holds %d bytes, not %d%s"
                            % (path, name, received[0], last + 1 - first, asked))


# The launcher's block updates ask at most this many ranges per request.
MAX_RANGES = 64
FALLBACK = "the launcher then asks one range per request, slower on links with round trips"


def multi_ranges(size):
    """Two or three ranges of a file of `size` bytes (2 or more), in order,
    apart, the last one ending the file."""
    if size < 16:
        return [(0, 0), (size - 1, size - 1)]
    length = min(4096, size // 8)
    return [(size // 8, size // 8 + length - 1), (size // 2, size // 2 + length - 1),
            (size - length, size - 1)]


def multipart_parts(body, boundary):
    """[((first, last), bytes), ...] of a multipart/byteranges body, or why
    it is malformed. As strict as the launcher's reading."""
    delimiter = b"--" + boundary
    at = 2 if body.startswith(b"\r\n") else 0
    if not body.startswith(delimiter, at):
        return "the body does not start with its boundary"
    at += len(delimiter)
    parts = []
    while not body.startswith(b"--", at):
        if not body.startswith(b"\r\n", at):
            return "a delimiter is not followed by a line end"
        end = body.find(b"\r\n\r\n", at)
        if end < 0:
            return "a part's headers do not end"
        values = [line.split(b":", 1)[1].strip() for line in body[at + 2:end].split(b"\r\n")
                  if line.lower().startswith(b"content-range:")]
        form = re.fullmatch(rb"bytes ([0-9]+)-([0-9]+)/([0-9]+|\*)", values[0]) if len(values) == 1 else None
        if not form or int(form.group(1)) > int(form.group(2)):
            return "a part without one well-formed Content-Range"
        first, last = int(form.group(1)), int(form.group(2))
        at = end + 4 + last + 1 - first
        if not body.startswith(b"\r\n" + delimiter, at):
            return "the part of bytes %d-%d does not end where its Content-Range says" % (first, last)
        parts.append(((first, last), body[end + 4:at]))
        at += 2 + len(delimiter)
    if body[at + 2:] not in (b"", b"\r\n"):
        return "bytes after the last part"
    return parts


def multipart_fault(body, content_type, expected):
    """What is wrong with a multipart/byteranges answer to the ranges of
    `expected` ({(first, last): the file's bytes there, or None}), or None."""
    form = re.fullmatch(r"multipart/byteranges\s*;\s*boundary=(\"?)([0-9A-Za-z'()+_,./:=?-]{1,70})\1",
                        content_type.strip(), re.IGNORECASE)
    if not form:
        return "Content-Type '%s' names no usable boundary" % content_type
    parts = multipart_parts(body, form.group(2).encode())
    if isinstance(parts, str):
        return parts
    if sorted(r for r, _ in parts) != sorted(expected):
        return "parts of bytes %s for bytes %s asked" % (
            ",".join("%d-%d" % r for r, _ in parts) or "nothing",
            ",".join("%d-%d" % r for r in sorted(expected)))
    if any(expected[r] not in (None, data) for r, data in parts):
        return "a part's bytes differ from the file's"
    return None


def check_multi_range(server, path, expected, problems, notes):
    """How the server answers a request for several ranges, as a block update
    asks them: one line, in notes, or in problems when the answer is broken.
    expected: {(first, last): the file's bytes there, or None if unknown}."""
    asked = sorted(expected)
    range_header = "bytes=" + ",".join("%d-%d" % r for r in asked)
    # A whole file is not read to its end.
    limit = sum(last + 1 - first for first, last in asked) + 200 * len(asked) + 1024
    try:
        status, headers, body = server.get(path, {"Range": range_header}, limit=limit)
    except (OSError, ssl.SSLError) as e:
        problems.append("%s: multi-range request failed: %s" % (path, e))
        return
    subject = "%s: a request for %d ranges" % (path, len(asked))
    content_type = headers.get("content-type", "")
    if status == 200:
        notes.append("note: %s: answered with the whole file (200); %s" % (subject, FALLBACK))
        return
    if status != 206:
        problems.append("%s: answered %d, neither 206 nor 200" % (subject, status))
        return
    if not content_type.lower().startswith("multipart/byteranges"):
        notes.append("note: %s: answered with one range (206 of %s); %s"
                     % (subject, headers.get("content-range", "no Content-Range"), FALLBACK))
        return
    check_no_encoding(subject, headers, problems)
    why = multipart_fault(body, content_type, expected)
    if why:
        problems.append("%s: malformed multipart/byteranges answer: %s; the launcher falls back "
                        "to one range per request, and whatever garbles these answers may "
                        "garble others" % (subject, why))
        return
    notes.append("note: %s: answered multipart/byteranges with the right parts (206); block "
                 "updates ask up to %d ranges per request" % (subject, MAX_RANGES))


def check_launcher(server, problems, keys=None):
    text = fetch_document(server, rules.RECORD_PATH, rules.RECORD_LIMIT, problems)
    if text is None:
        return
    if keys:
        check_signature(server, rules.RECORD_PATH, text, keys, problems)
    record, error = rules.read_update_record(text, server.base_url.encode())
    if error:
        problems.append("%s: %s" % (rules.RECORD_PATH, error))
        return
    path = record["path"].decode()
    hasher, data = hashlib.sha256(), bytearray()
    try:
        status, headers, _ = server.get(path, sink=data.extend)
    except (OSError, ssl.SSLError) as e:
        problems.append("%s: request failed: %s" % (path, e))
        return
    if status != 200:
        problems.append("%s: status %d, the launcher needs 200" % (path, status))
        return
    check_no_encoding(path, headers, problems)
    hasher.update(data)
    if len(data) != record["size"]:
        problems.append("%s: %d bytes, latest.json says %d" % (path, len(data), record["size"]))
    elif hasher.hexdigest() != record["sha256"].decode().lower():
        problems.append("%s: content differs from latest.json's sha256" % path)
    else:
        own = version_of(bytes(data))
        wanted = record["version"].decode()
        if own != wanted:
            problems.append("%s: the executable carries version %s but latest.json says %s; "
                            "launchers would update at every start" % (path, own, wanted))


def version_of(data):
    try:
        info = pe_version.read_version_info_bytes(data)
    except pe_version.PeError as e:
        return "unknown (%s)" % e
    return info["strings"].get("ProductVersion") or "unknown (no ProductVersion)"


def check_manifest(server, problems, notes, keys=None):
    text = fetch_document(server, rules.MANIFEST_PATH, rules.MANIFEST_LIMIT, problems)
    if text is None:
        return 0, 0
    if keys:
        check_signature(server, rules.MANIFEST_PATH, text, keys, problems)
    base_path, entries, error = rules.parse_manifest(text, with_blocks=True)
    if error:
        problems.append("%s: %s" % (rules.MANIFEST_PATH, error))
        return 0, 0
    files = [((base_path + b"/" + url).decode(), size, digest.decode())
             for url, digest, size, _ in entries]
    # A wrong description costs players a wasted fetch and then the whole file.
    descriptions = [((base_path + b"/" + b[0]).decode(), b[1], b[2].decode())
                    for _, _, _, b in entries if b is not None]
    # Several ranges of a described file, as a block update asks them; its
    # bytes are kept from its whole download to compare the parts with.
    described = [f for f, (_, _, _, b) in zip(files, entries) if b is not None]
    multi = max(described or files, key=lambda f: f[1])
    expected = dict.fromkeys(multi_ranges(multi[1])) if multi[1] >= 2 else None
    with concurrent.futures.ThreadPoolExecutor(WORKERS) as pool:
        for found in pool.map(lambda f: check_file(server, *f, keep=expected if f is multi else None),
                              files + descriptions):
            problems.extend(found)
    ranged = max(files, key=lambda f: f[1])
    if ranged[1] >= 2:
        check_range(server, ranged[0], ranged[1], problems, ranged[1] // 2)
    else:
        problems.append("%s: no file of 2 bytes or more to try a range request on"
                        % rules.MANIFEST_PATH)
    if described:
        path, size, _ = max(described, key=lambda f: f[1])
        check_range(server, path, size, problems, size // 3, min(size - 1, size // 3 + 65535))
    if expected:
        check_multi_range(server, multi[0], expected, problems, notes)
    return len(files), sum(f[1] for f in files)


def check(base_url, cafile=None, insecure=False, out=print, keys=None):
    """Prints one line per problem, then the notes; returns the number of
    problems. keys: public keys (64 bytes each) the signatures must verify
    with."""
    server = Server(base_url, cafile, insecure)
    problems, notes = [], []
    try:
        check_launcher(server, problems, keys)
        count, total = check_manifest(server, problems, notes, keys)
    finally:
        server.close()
    for line in problems + notes:
        out(line)
    if not problems:
        out("%s: ok: latest.json, manifest.json%s and %d files (%d bytes) as the launcher "
            "needs them" % (server.base_url, ", their signatures" if keys else "", count, total))
    return len(problems)
