"""The publishing tools' rules: what they refuse, what they write, and that
the launcher's reading of what they write is exactly what was meant.

Run: python3 -m unittest discover -s tests/ops -p 'test_*.py'
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from publishing import launcher_release, launcher_rules as rules, pe_version, server_tree  # noqa: E402
from publishing.server_tree import PublishError  # noqa: E402


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def quiet(*_):
    pass



class DocumentReading(unittest.TestCase):
    def test_a_value_that_spells_a_name_is_no_member(self):
        entry = b'{"url":"size","hash":"ab12","size":5}'
        self.assertEqual(rules.json_field(entry, b"size"), b"5")
        self.assertEqual(rules.json_field(b'{"url":"size" , "x":1}', b"size"), b"")
        self.assertEqual(rules.json_field(b'{"size" :\t7}', b"size"), b"7")

class TreeCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="korval-publish-")
        self.game = os.path.join(self.tmp, "game")
        self.root = os.path.join(self.tmp, "srv")
        os.mkdir(self.game)

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def publish(self, release=None):
        return server_tree.publish(self.game, self.root, release, out=quiet)

    def manifest(self):
        with open(os.path.join(self.root, "pc", "manifest.json"), "rb") as f:
            return f.read()

    def served(self, release, url):
        return os.path.join(self.root, "pc", "files", release, *url.split("/"))


class LauncherReaderTest(unittest.TestCase):
    """Places where a straightforward JSON reading differs from the launcher's."""

    def test_field_reader_takes_raw_first_occurrence(self):
        self.assertEqual(rules.json_field(b'{"a": {"v": 1}, "v": 2}', b"v"), b"1")
        self.assertEqual(rules.json_field(b'{"v": "a\\"b"}', b"v"), b"a\\")
        self.assertEqual(rules.json_field(b'{"v":\n 12', b"v"), b"12")
        self.assertEqual(rules.json_field(b'{"v": [1, 2]}', b"v"), b"[1")
        self.assertEqual(rules.json_field(b'{"w": 1}', b"v"), b"")

    def test_server_path_limits(self):
        self.assertTrue(rules.is_safe_server_path(b"/" + b"a" * 299))
        self.assertFalse(rules.is_safe_server_path(b"/" + b"a" * 300))
        self.assertTrue(rules.is_safe_server_path(b"/a$b/c-d_e.f"))
        for bad in (b"", b"a", b"/a..b", b"/a//b", b"/a b", b"/a%20", b"/a\\b", "/é".encode()):
            self.assertFalse(rules.is_safe_server_path(bad), bad)

    def test_windows_names(self):
        for device in (b"CON", b"nul.txt", b"Com1.tar.gz", b"lpt9", b"conin$", b"aux ."):
            self.assertTrue(rules.is_device_name(rules.windows_path_key(device)), device)
        for name in (b"com0", b"com10", b"console", b"nula.txt"):
            self.assertFalse(rules.is_device_name(name), name)
        paths = rules.InstallPaths()
        self.assertIsNone(paths.claim(b"data/Models/a.img"))
        self.assertEqual(paths.claim(b"DATA/models/A.IMG."), b"data/Models/a.img")
        self.assertEqual(paths.claim(b"data/models"), b"data/Models/a.img")
        self.assertIsNone(paths.claim(b"x"))
        self.assertEqual(paths.claim(b"x/y"), b"x")

    def test_manifest_entries(self):
        ok = (b'{"basePath": "/pc/files/r", "files": [{"url": "a", "hash": "' + b"A" * 64 +
              b'", "size": "7"}]}')
        self.assertEqual(rules.parse_manifest(ok)[1:], ([(b"a", b"a" * 64, 7)], None))
        for text in (ok.replace(b'"files"', b'"file"'), ok.replace(b"/pc/files/r", b"pc/files/r"),
                     ok.replace(b'"a"', b'"/a"'), ok.replace(b'"a"', b'"korval_files.idx"'),
                     ok.replace(b'"a"', b'"x.PART"'), ok.replace(b"A" * 64, b"A" * 63),
                     ok.replace(b"[{", b"[").replace(b"}]", b"]")):
            self.assertIsNotNone(rules.parse_manifest(text)[2], text)

    def test_update_record(self):
        good = b'{"version": "1.10", "url": "k.exe", "sha256": "' + b"f" * 64 + b'", "size": 5}'
        record, error = rules.read_update_record(good)
        self.assertIsNone(error)
        self.assertEqual(record["path"], b"/pc/launcher/k.exe")
        self.assertEqual(rules.compare_versions(b"1.10", b"1.9"), 1)
        self.assertEqual(rules.compare_versions(b"1.2", b"1.2.0.0.7"), 0)
        for bad in (good.replace(b"1.10", b"1.1a"), good.replace(b'"k.exe"', b'"https://x/k.exe"'),
                    good.replace(b"5}", b"0}"), good.replace(b"5}", b"268435457}")):
            self.assertIsNotNone(rules.read_update_record(bad)[1], bad)


class RefusalTest(TreeCase):
    def test_every_refused_name_is_reported_and_nothing_is_written(self):
        write(os.path.join(self.game, "samp.exe"))
        bad = ["bad name.txt", "Samp.EXE.", "nul.txt", "x.part", "korval_files.idx", "a..b",
               "cef/libcef.dll", "привет.txt", "deep/" + "d" * 150 + "/" + "d" * 150]
        for name in bad:
            write(os.path.join(self.game, *name.split("/")))
        os.mkdir(os.path.join(self.game, "empty"))
        with self.assertRaises(PublishError) as caught:
            self.publish("r1")
        lines = str(caught.exception).splitlines()
        self.assertEqual(len(lines), len(bad) + 1, lines)
        for name in ["bad name.txt", "samp.exe", "nul.txt", "x.part", "korval_files.idx", "a..b",
                     "cef/libcef.dll", "привет.txt", "deep/ddd", "empty/"]:
            self.assertTrue(any(line.startswith(name) for line in lines), name)
        self.assertFalse(os.path.exists(os.path.join(self.root, "pc", "files", "r1")))
        self.assertFalse(os.path.exists(os.path.join(self.root, "pc", "manifest.json")))

    def test_length_limit_counts_the_release_folder(self):
        # 300 bytes in all: "/pc/files/" + release + "/" + path.
        release = "r" * 20
        room = 300 - len("/pc/files/") - 20 - 1
        write(os.path.join(self.game, "p" * 200, "p" * (room - 201)))
        self.publish(release)
        write(os.path.join(self.game, "q" * 200, "q" * (room - 200)))
        with self.assertRaisesRegex(PublishError, "at most 269 fit"):
            self.publish("s" * 20)

    def test_empty_game_folder(self):
        with self.assertRaisesRegex(PublishError, "no files"):
            self.publish()

    def test_release_names(self):
        write(os.path.join(self.game, "a"))
        self.publish("r1")
        for name in ("r1", ".hidden", "a/b", "a b", ""):
            with self.assertRaises(PublishError, msg=name):
                self.publish(name)


class PublishTest(TreeCase):
    def test_manifest_reads_back_exactly_even_for_key_like_names(self):
        names = {"size": b"12345", "hash": b"h", "url": b"", "basePath": b"b", "files/files": b"ff",
                 "Data/$x-y_z.img": os.urandom(70000)}
        for name, data in names.items():
            write(os.path.join(self.game, *name.split("/")), data)
        self.publish("r1")
        base, entries, error = rules.parse_manifest(self.manifest())
        self.assertIsNone(error)
        self.assertEqual(base, b"/pc/files/r1")
        got = {url.decode(): (digest.decode(), size) for url, digest, size in entries}
        self.assertEqual(got, {n: (hashlib.sha256(d).hexdigest(), len(d)) for n, d in names.items()})
        for name, data in names.items():
            with open(self.served("r1", name), "rb") as f:
                self.assertEqual(f.read(), data)

    def test_new_release_shares_unchanged_files_and_keeps_the_old_one_whole(self):
        write(os.path.join(self.game, "big.img"), b"b" * 10000)
        write(os.path.join(self.game, "conf.txt"), b"one")
        self.publish("r1")
        old_manifest = self.manifest()
        write(os.path.join(self.game, "conf.txt"), b"two")
        write(os.path.join(self.game, "renamed", "copy.img"), b"b" * 10000)
        self.publish("r2")
        same = os.stat(self.served("r1", "big.img")), os.stat(self.served("r2", "big.img"))
        self.assertEqual(same[0].st_ino, same[1].st_ino)
        self.assertEqual(os.stat(self.served("r2", "renamed/copy.img")).st_ino, same[0].st_ino)
        self.assertNotEqual(os.stat(self.served("r1", "conf.txt")).st_ino,
                            os.stat(self.served("r2", "conf.txt")).st_ino)
        with open(self.served("r1", "conf.txt"), "rb") as f:
            self.assertEqual(f.read(), b"one")
        # The old manifest's every file is still served as it says.
        _, entries, _ = rules.parse_manifest(old_manifest)
        for url, digest, size in entries:
            with open(self.served("r1", url.decode()), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest().encode(), digest)

    def test_failure_half_way_leaves_the_live_release_and_no_staging(self):
        for i in range(3):
            write(os.path.join(self.game, "f%d" % i), b"%d" % i)
        self.publish("r1")
        before = self.manifest()
        write(os.path.join(self.game, "f2"), b"changed")
        real = server_tree.copy_hashing
        calls = []

        def failing(source, target):
            calls.append(source)
            if len(calls) == 1:
                raise OSError(28, "No space left on device")
            return real(source, target)
        with mock.patch.object(server_tree, "copy_hashing", failing):
            with self.assertRaises(OSError):
                self.publish("r2")
        self.assertEqual(self.manifest(), before)
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "pc", "files"))), ["r1"])
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "pc", "releases"))), ["r1.json"])

    def test_file_changing_while_published_is_refused(self):
        write(os.path.join(self.game, "f"), b"before")
        real = server_tree.hash_file
        with mock.patch.object(server_tree, "hash_file",
                               lambda p: (hashlib.sha256(b"other").hexdigest(), real(p)[1])):
            with self.assertRaisesRegex(PublishError, "changed while"):
                self.publish("r1")
        self.assertFalse(os.path.exists(os.path.join(self.root, "pc", "manifest.json")))

    def test_prune_keeps_newest_and_the_live_release(self):
        write(os.path.join(self.game, "f"), b"0")
        for n in range(1, 5):
            write(os.path.join(self.game, "f"), b"%d" % n)
            self.publish("r%d" % n)
        # A rollback: the live manifest names an older release again.
        server_tree.rollback(self.root, "r2", out=quiet)
        self.assertEqual(rules.parse_manifest(self.manifest())[0], b"/pc/files/r2")
        os.mkdir(os.path.join(self.root, "pc", "files", ".staging-r5"))
        server_tree.prune(self.root, 1, out=quiet)
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "pc", "files"))), ["r2", "r4"])
        with open(self.served("r2", "f"), "rb") as f:
            self.assertEqual(f.read(), b"2")
        with self.assertRaises(PublishError):
            server_tree.prune(self.root, 0, out=quiet)
        with self.assertRaisesRegex(PublishError, "not kept"):
            server_tree.rollback(self.root, "r1", out=quiet)

    def test_rollback_refuses_a_damaged_release(self):
        write(os.path.join(self.game, "a"), b"aaaa")
        write(os.path.join(self.game, "b"), b"bb")
        self.publish("r1")
        write(os.path.join(self.game, "b"), b"changed")
        self.publish("r2")
        os.remove(self.served("r1", "b"))
        with self.assertRaisesRegex(PublishError, "b: missing from r1"):
            server_tree.rollback(self.root, "r1", out=quiet)
        self.assertEqual(rules.parse_manifest(self.manifest())[0], b"/pc/files/r2")


def build_exe(folder, name, version_text, numbers, arch="i686"):
    """A tiny Windows program with a version resource, as the release build makes them."""
    rc = os.path.join(folder, name + ".rc")
    with open(rc, "w") as f:
        f.write('1 VERSIONINFO\n FILEVERSION %s\n PRODUCTVERSION %s\nBEGIN\n BLOCK "StringFileInfo"\n'
                ' BEGIN\n  BLOCK "040904b0"\n  BEGIN\n   VALUE "ProductName", "Korval Launcher"\n'
                '   VALUE "ProductVersion", "%s"\n  END\n END\nEND\n' % (numbers, numbers, version_text))
    c = os.path.join(folder, name + ".c")
    with open(c, "w") as f:
        f.write("int main(void) { return 0; }\n")
    res = os.path.join(folder, name + ".res.o")
    exe = os.path.join(folder, name + ".exe")
    subprocess.run(["%s-w64-mingw32-windres" % arch, rc, "-O", "coff", "-o", res], check=True)
    subprocess.run(["%s-w64-mingw32-gcc" % arch, "-o", exe, c, res], check=True)
    return exe


class PublishLauncherTest(TreeCase):
    def test_version_resource_decides(self):
        exe = build_exe(self.tmp, "l15", "0.1.5", "0,1,5,0")
        self.assertEqual(pe_version.read_version_info(exe)["machine"], "i386")
        with self.assertRaisesRegex(PublishError, "carries version 0.1.5, not 0.1.6"):
            launcher_release.publish_launcher(exe, self.root, "0.1.6", out=quiet)
        self.assertFalse(os.path.exists(os.path.join(self.root, "pc", "launcher", "latest.json")))

        launcher_release.publish_launcher(exe, self.root, "0.1.5", out=quiet)
        with open(os.path.join(self.root, "pc", "launcher", "latest.json"), "rb") as f:
            record, error = rules.read_update_record(f.read())
        self.assertIsNone(error)
        with open(exe, "rb") as f:
            data = f.read()
        served = os.path.join(self.root, "pc", "launcher", "korval_launcher-0.1.5.exe")
        self.assertEqual(record["path"], b"/pc/launcher/korval_launcher-0.1.5.exe")
        self.assertEqual((record["sha256"], record["size"]),
                         (hashlib.sha256(data).hexdigest().encode(), len(data)))
        with open(served, "rb") as f:
            self.assertEqual(f.read(), data)

    def test_binary_version_must_agree_and_history_only_moves_forward(self):
        mismatched = build_exe(self.tmp, "mixed", "0.2.0", "0,1,9,0", arch="x86_64")
        with self.assertRaisesRegex(PublishError, "binary file version 0.1.9.0"):
            launcher_release.publish_launcher(mismatched, self.root, "0.2.0", out=quiet)
        launcher_release.publish_launcher(build_exe(self.tmp, "l2", "0.2", "0,2,0,0"),
                                          self.root, "0.2", out=quiet)
        with self.assertRaisesRegex(PublishError, "older than the published 0.2"):
            launcher_release.publish_launcher(build_exe(self.tmp, "l1", "0.1.9", "0,1,9,0"),
                                              self.root, "0.1.9", out=quiet)
        other = build_exe(self.tmp, "l2b", "0.2", "0,2,0,0")
        with open(other, "ab") as f:
            f.write(b"rebuilt")
        with self.assertRaisesRegex(PublishError, "never replaced"):
            launcher_release.publish_launcher(other, self.root, "0.2", out=quiet)

    def test_not_an_executable(self):
        path = os.path.join(self.tmp, "x.exe")
        write(path, b"MZ" + b"\0" * 100)
        with self.assertRaisesRegex(PublishError, "x.exe: "):
            launcher_release.publish_launcher(path, self.root, "1.0", out=quiet)


class CommandLineTest(TreeCase):
    def test_refusals_go_to_stderr_one_per_line_with_exit_code_1(self):
        write(os.path.join(self.game, "CON"))
        write(os.path.join(self.game, "aux.dat"))
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                              "publish.py")
        run = subprocess.run([sys.executable, script, "publish", self.game, self.root],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr.count("refused: "), 2, run.stderr)


if __name__ == "__main__":
    unittest.main()
