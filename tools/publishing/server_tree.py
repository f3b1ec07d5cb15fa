"""Releases on the content server's tree, and the two documents that name them.

Layout below the served root:
  pc/manifest.json             the live manifest (replaced last, atomically)
  pc/files/<release>/...       one folder per release, never changed once named
  pc/releases/<release>.json   the manifest each release was published with
  pc/launcher/latest.json      the launcher version record
  pc/launcher/korval_launcher-<version>.exe
  pc/manifest.json.sig, pc/launcher/latest.json.sig
                               signatures of the two documents (with --key)
  pc/.signed-release           the highest release number ever signed here

A player who fetched the previous manifest keeps downloading from its own
release folder, which stays complete until a prune removes it; a new manifest
is only written once every file it names is in place.
"""
import contextlib
import datetime
import errno
import fcntl
import hashlib
import json
import os
import re
import shutil

from . import block_map
from . import game_tree
from . import launcher_rules as rules
from . import signing

RELEASE_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9._-]{0,63}$")
STAGING_PREFIX = ".staging-"
BLOCK = 1 << 20


class PublishError(Exception):
    """Refused or failed; the message lists every reason, one per line."""


def pc_dir(root):
    return os.path.join(root, "pc")


def files_dir(root):
    return os.path.join(root, "pc", "files")


def records_dir(root):
    return os.path.join(root, "pc", "releases")


@contextlib.contextmanager
def tree_lock(root):
    """One publishing command at a time on a tree."""
    os.makedirs(pc_dir(root), exist_ok=True)
    with open(os.path.join(pc_dir(root), ".publish.lock"), "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise PublishError("%s: another publishing command is running on this tree" % root)
        yield


def fsync_dir(path):
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def write_atomically(path, data):
    """Readers see the old file or the whole new one, never a part."""
    write_atomically_in_order([(path, data)])


def write_atomically_in_order(files):
    """[(path, data)] each written aside and synced first, then renamed over
    in this order one right after another: a reader sees some old and some
    new files only for the time between two renames, not for a write."""
    temps = []
    try:
        for path, data in files:
            folder = os.path.dirname(path)
            os.makedirs(folder, exist_ok=True)
            temp = os.path.join(folder, ".%s.tmp" % os.path.basename(path))
            temps.append(temp)
            with open(temp, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.chmod(temp, 0o644)
        for (path, _), temp in zip(files, temps):
            os.replace(temp, path)
    except BaseException:
        for temp in temps:
            with contextlib.suppress(FileNotFoundError):
                os.remove(temp)
        raise
    for folder in sorted({os.path.dirname(path) for path, _ in files}):
        fsync_dir(folder)


def hash_file(path):
    digest, size = hashlib.sha256(), 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(BLOCK), b""):
            digest.update(block)
            size += len(block)
    return digest.hexdigest(), size


def copy_hashing(source, target):
    """Copies and hashes what was written, so the digest is that of the served bytes."""
    digest, size = hashlib.sha256(), 0
    with open(source, "rb") as src, open(target, "xb") as dst:
        for block in iter(lambda: src.read(BLOCK), b""):
            dst.write(block)
            digest.update(block)
            size += len(block)
        dst.flush()
        os.fsync(dst.fileno())
    return digest.hexdigest(), size


def manifest_text(base_path, entries):
    """The manifest in the launcher's format. "url" comes last in each entry:
    launchers built before their reader was mended took the first quoted
    occurrence of a key, value or not, so a file named "size" or "hash"
    written before those keys would be read as the key by a player who has
    not updated yet."""
    lines = ['{"basePath": "%s", "files": [' % base_path]
    for i, (url, digest, size, blocks) in enumerate(entries):
        # Flat members: launchers end an entry at its first "}".
        described = "" if blocks is None else (
            '"blocksUrl": "%s", "blocksSize": %d, "blocksHash": "%s", "blockSize": %d, '
            % (blocks["url"], blocks["size"], blocks["hash"], blocks["blockSize"]))
        lines.append('  {"hash": "%s", "size": %d, %s"url": "%s"}%s'
                     % (digest, size, described, url, "," if i + 1 < len(entries) else ""))
    lines.append("]}")
    return ("\n".join(lines) + "\n").encode("ascii")


def live_base_path(root):
    return rules.document_field(os.path.join(pc_dir(root), "manifest.json"), b"basePath")


def manifest_path(root):
    return os.path.join(pc_dir(root), "manifest.json")


def record_path(root):
    return os.path.join(root, "pc", "launcher", "latest.json")


def counter_path(root):
    return os.path.join(pc_dir(root), ".signed-release")


def next_signed_release(root):
    """One more than the highest release number signed in this tree. Both
    documents share the counter, and the counter file keeps the number when
    a signature file is removed: players remember the highest they accepted
    and refuse anything lower."""
    highest = 0
    try:
        with open(counter_path(root), "rb") as f:
            text = f.read().strip()
        if not text.isdigit():
            raise PublishError("%s: not a release number; it must hold the highest number "
                               "ever signed here" % counter_path(root))
        highest = int(text)
    except FileNotFoundError:
        pass
    for path in (manifest_path(root), record_path(root)):
        try:
            with open(path + ".sig", "rb") as f:
                text = f.read()
        except FileNotFoundError:
            continue
        release, _, error = signing.parse_signature_file(text, os.path.basename(path))
        if error:
            raise PublishError("%s.sig: %s; the next release number cannot be told from it "
                               "(remove it if it is damaged: %s keeps the number)"
                               % (path, error, counter_path(root)))
        highest = max(highest, release)
    if highest >= signing.MAX_RELEASE:
        raise PublishError("release number %d is the last one there is" % highest)
    return highest + 1


def prepare_document(root, path, keys):
    """Refusals that must come before a command writes anything."""
    if keys is None:
        if os.path.exists(path + ".sig"):
            raise PublishError("%s.sig exists: rewriting %s without --key would leave a "
                               "signature of the old document beside the new one, and every "
                               "launcher built with release keys would refuse it; give --key "
                               "(or remove the .sig first if this tree is to go unsigned)"
                               % (path, os.path.basename(path)))
    else:
        next_signed_release(root)


def write_document(root, path, data, keys, out=print):
    """A document players fetch, and its signature when keys are given."""
    name = os.path.basename(path)
    if keys is None:
        write_atomically(path, data)
        out("warning: %s is not signed (no --key): launchers built with release keys refuse "
            "it; only for development and test servers" % name)
        return None
    release = next_signed_release(root)
    signature = signing.signature_file(name, release, data, keys)
    # The number is spent before it is used, so that no crash can sign two
    # different documents with one number.
    write_atomically(counter_path(root), b"%d\n" % release)
    # Document first, then its signature, both renames back to back: the
    # launcher fetches the document, then the signature, so a player sees a
    # mismatched pair only when both renames fall between those two requests
    # (the other order would mismatch whenever either one did).
    write_atomically_in_order([(path, data), (path + ".sig", signature)])
    out("signed %s as release %d with key %s" % (name, release, ", ".join(k.id for k in keys)))
    return release


def release_records(root):
    """Published releases, oldest first: [(name, record)]."""
    found = []
    try:
        names = os.listdir(records_dir(root))
    except FileNotFoundError:
        return []
    for name in names:
        if not name.endswith(".json") or name.startswith("."):
            continue
        with open(os.path.join(records_dir(root), name), "rb") as f:
            record = json.loads(f.read().decode("utf-8"))
        found.append((name[:-5], record))
    found.sort(key=lambda item: (item[1].get("published", ""), item[0]))
    return found


def shared_content(root):
    """digest -> a file of an earlier release with that content, for hard links."""
    known = {}
    for name, record in release_records(root):
        folder = os.path.join(files_dir(root), name)
        for entry in record.get("files", []):
            known.setdefault((entry["hash"], entry["size"]),
                             os.path.join(folder, *entry["url"].split("/")))
    return known


def new_release_name(root, wanted):
    if wanted is not None:
        if not RELEASE_NAME.match(wanted):
            raise PublishError("release name '%s': use 1 to 64 of A-Z a-z 0-9 . _ - "
                               "(not starting with '.' or '-')" % wanted)
        if os.path.exists(os.path.join(files_dir(root), wanted)):
            raise PublishError("release '%s' already exists; releases are never changed, "
                               "publish under a new name" % wanted)
        return wanted
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d-%H%M%S")
    name, n = stamp, 1
    while os.path.exists(os.path.join(files_dir(root), name)):
        n += 1
        name = "%s-%d" % (stamp, n)
    return name


def entry_record(url, digest, size, blocks):
    record = {"url": url, "hash": digest, "size": size}
    if blocks is not None:
        record["blocks"] = blocks
    return record


def entries_of(record):
    return [(e["url"], e["hash"], e["size"], e.get("blocks")) for e in record["files"]]


def place_description(game_file, target, digest, earlier):
    """The block description of a large file beside it: linked from the
    earlier release that served the same content, else written anew.
    None for a file that goes without one."""
    if not block_map.wanted(game_file.size):
        return None
    path = target + block_map.SUFFIX
    linked = False
    if earlier is not None and os.path.exists(earlier + block_map.SUFFIX):
        try:
            os.link(earlier + block_map.SUFFIX, path)
            linked = True
        except OSError as e:
            if e.errno not in (errno.ENOENT, errno.EXDEV, errno.EPERM, errno.EMLINK, errno.ENOTSUP):
                raise
    if linked and not block_map.is_current(path, game_file.size):
        os.remove(path)
        linked = False
    if linked:
        blocks_digest, blocks_size = hash_file(path)
    if not linked:
        blocks_digest, blocks_size = block_map.write_description(target, path)
        os.chmod(path, 0o444)
    return {"url": game_file.url.decode("ascii") + block_map.SUFFIX, "size": blocks_size,
            "hash": blocks_digest, "blockSize": block_map.BLOCK_SIZE}


def place_file(game_file, target, known):
    """Links content an earlier release already serves, else copies it.
    Returns (digest, shared)."""
    digest, size = hash_file(game_file.source)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    earlier = known.get((digest, size))
    if earlier is not None:
        try:
            if os.stat(earlier).st_size == size:
                os.link(earlier, target)
                return digest, True
        except OSError as e:
            if e.errno not in (errno.ENOENT, errno.EXDEV, errno.EPERM, errno.EMLINK, errno.ENOTSUP):
                raise
    copied, copied_size = copy_hashing(game_file.source, target)
    if (copied, copied_size) != (digest, size):
        raise PublishError("%s: changed while it was being published; publish again when "
                           "the game folder is still" % game_file.url.decode("utf-8", "replace"))
    os.chmod(target, 0o444)
    return digest, False


def publish(game_dir, root, release=None, out=print, keys=None):
    """Publishes game_dir as a new release and makes it the live manifest."""
    with tree_lock(root):
        prepare_document(root, manifest_path(root), keys)
        name = new_release_name(root, release)
        base_path = "/pc/files/" + name
        files, problems = game_tree.collect(game_dir)
        problems += game_tree.path_problems(files, base_path.encode())
        if problems:
            raise PublishError("\n".join(problems))

        os.makedirs(files_dir(root), exist_ok=True)
        staging = os.path.join(files_dir(root), STAGING_PREFIX + name)
        known = shared_content(root)
        entries, shared_files, new_bytes = [], 0, 0
        try:
            os.mkdir(staging)
            for f in files:
                target = os.path.join(staging, *os.fsdecode(f.url).split("/"))
                digest, shared = place_file(f, target, known)
                blocks = place_description(f, target, digest, known.get((digest, f.size)))
                entries.append((f.url.decode("ascii"), digest, f.size, blocks))
                shared_files += shared
                new_bytes += 0 if shared else f.size
            text = manifest_text(base_path, entries)
            check_own_manifest(text, entries)
            for folder, _, _ in os.walk(staging):
                fsync_dir(folder)
            os.rename(staging, os.path.join(files_dir(root), name))
            fsync_dir(files_dir(root))
        except BaseException:
            shutil.rmtree(staging, ignore_errors=True)
            raise

        record = {"release": name, "basePath": base_path,
                  "published": datetime.datetime.now(datetime.timezone.utc).isoformat(),
                  "files": [entry_record(*e) for e in entries]}
        write_atomically(os.path.join(records_dir(root), name + ".json"),
                         json.dumps(record, indent=1).encode())
        write_document(root, manifest_path(root), text, keys, out)
        total = sum(e[2] for e in entries)
        out("published %s: %d files, %d bytes; %d new or changed (%d bytes), %d shared with "
            "earlier releases" % (name, len(entries), total, len(entries) - shared_files,
                                  new_bytes, shared_files))
        return name


def check_own_manifest(text, entries):
    """What the launcher will read must be exactly what was meant."""
    base, parsed, error = rules.parse_manifest(text, with_blocks=True)
    wanted = [(u.encode(), h.encode(), s, None if b is None else
               (b["url"].encode(), b["size"], b["hash"].encode(), b["blockSize"]))
              for u, h, s, b in entries]
    if error or parsed != wanted:
        raise PublishError("internal error: the written manifest would read back differently (%s)"
                           % (error or "entries differ"))


def rollback(root, release, out=print, keys=None):
    """Makes a kept release live again, once its files are all still there."""
    with tree_lock(root):
        prepare_document(root, manifest_path(root), keys)
        records = dict(release_records(root))
        if release not in records:
            raise PublishError("release '%s' is not kept on this tree (kept: %s)"
                               % (release, ", ".join(records) or "none"))
        record = records[release]
        entries = entries_of(record)
        problems = []
        kept = [(url, size) for url, _, size, _ in entries]
        kept += [(b["url"], b["size"]) for _, _, _, b in entries if b is not None]
        for url, size in kept:
            path = os.path.join(files_dir(root), release, *url.split("/"))
            try:
                if os.stat(path).st_size != size:
                    problems.append("%s: %d bytes, the release says %d"
                                    % (url, os.stat(path).st_size, size))
            except FileNotFoundError:
                problems.append("%s: missing from %s" % (url, release))
        if problems:
            raise PublishError("\n".join(problems))
        text = manifest_text(record["basePath"], entries)
        check_own_manifest(text, entries)
        write_document(root, manifest_path(root), text, keys, out)
        out("%s is live again: %d files" % (release, len(entries)))


def prune(root, keep, out=print):
    """Removes all but the newest `keep` releases; the live one always stays."""
    if keep < 1:
        raise PublishError("--keep must be at least 1")
    with tree_lock(root):
        live = live_base_path(root)
        records = release_records(root)
        newest = {name for name, _ in records[-keep:]}
        removed = []
        for name, _ in records:
            if name in newest or "/pc/files/" + name == live:
                continue
            # The folder goes first: a record whose files are gone is harmless
            # (sharing falls back to a copy) and the next prune removes it.
            shutil.rmtree(os.path.join(files_dir(root), name), ignore_errors=True)
            os.remove(os.path.join(records_dir(root), name + ".json"))
            removed.append(name)
        # Left by a publish that was killed; the lock says none is running.
        for name in sorted(os.listdir(files_dir(root)) if os.path.isdir(files_dir(root)) else []):
            if name.startswith(STAGING_PREFIX):
                shutil.rmtree(os.path.join(files_dir(root), name), ignore_errors=True)
                removed.append(name)
        out("pruned %d release folder(s)%s; kept %s" % (
            len(removed), (": " + ", ".join(removed)) if removed else "",
            ", ".join(n for n, _ in records if n not in removed) or "none"))
        return removed

