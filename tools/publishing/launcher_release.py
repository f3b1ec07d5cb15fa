"""A new launcher executable on the content server, and its version record.

A launcher whose own version differs from the record's would update, start
the "new" executable, find it again older than the record and update again
at every start. So the version given must be the executable's own, as its
version resource states, and newer than the one published.
"""
import hashlib
import json
import os

from . import launcher_rules as rules
from . import pe_version
from .server_tree import PublishError, prepare_document, record_path, tree_lock, \
    write_atomically, write_document


def launcher_dir(root):
    return os.path.join(root, "pc", "launcher")


def executable_version(path):
    """The version the executable itself reports, and its machine."""
    try:
        info = pe_version.read_version_info(path)
    except (OSError, pe_version.PeError) as e:
        raise PublishError("%s: %s" % (path, e))
    version = info["strings"].get("ProductVersion") or info["strings"].get("FileVersion")
    if not version:
        raise PublishError("%s: the version resource has no ProductVersion" % path)
    return version, info


def published_version(root):
    return rules.document_field(os.path.join(launcher_dir(root), "latest.json"), b"version")


def publish_launcher(exe, root, version, out=print, keys=None):
    if not rules.is_valid_version(version.encode()):
        raise PublishError("version '%s': use 1 to 20 digits and dots" % version)
    own, info = executable_version(exe)
    problems = []
    if own != version:
        problems.append("%s carries version %s, not %s: launchers would update to it at every "
                        "start; build it with LAUNCHER_VERSION %s or publish it as %s"
                        % (exe, own, version, version, own))
    fixed = info["file_version"]
    if fixed and rules.compare_versions(fixed.encode(), version.encode()) != 0:
        problems.append("%s: its binary file version %s differs from %s" % (exe, fixed, version))
    with open(exe, "rb") as f:
        data = f.read()
    if not 1 <= len(data) <= rules.MAX_LAUNCHER_BYTES:
        problems.append("%s: %d bytes; the launcher takes 1 to %d"
                        % (exe, len(data), rules.MAX_LAUNCHER_BYTES))
    if problems:
        raise PublishError("\n".join(problems))
    if info["machine"] != "i386":
        out("note: %s is a %s program; players' launchers are 32-bit" % (exe, info["machine"]))

    with tree_lock(root):
        prepare_document(root, record_path(root), keys)
        current = published_version(root)
        digest = hashlib.sha256(data).hexdigest()
        name = "korval_launcher-%s.exe" % version
        target = os.path.join(launcher_dir(root), name)
        if os.path.exists(target):
            with open(target, "rb") as f:
                if hashlib.sha256(f.read()).hexdigest() != digest:
                    raise PublishError("%s already exists with other content; a published "
                                       "version is never replaced, give the new build a new "
                                       "version" % target)
        if current and rules.is_valid_version(current.encode()) and \
                rules.compare_versions(version.encode(), current.encode()) < 0:
            raise PublishError("version %s is older than the published %s; launchers never "
                               "downgrade, so it would reach nobody" % (version, current))
        if not os.path.exists(target):
            write_atomically(target, data)
        record = json.dumps({"version": version, "url": name, "sha256": digest,
                             "size": len(data)}).encode() + b"\n"
        parsed, error = rules.read_update_record(record)
        if error or parsed["sha256"] != digest.encode() or parsed["size"] != len(data):
            raise PublishError("internal error: the version record would read back "
                               "differently (%s)" % (error or "fields differ"))
        write_document(root, record_path(root), record, keys, out)
    out("published launcher %s as %s (%d bytes)%s"
        % (version, name, len(data), " (was %s)" % current if current else ""))
