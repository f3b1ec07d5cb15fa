"""The publishing tools' rules: what they refuse, what they write, and that
the launcher's reading of what they write is exactly what was meant.

Run: python3 -m unittest discover -s tests/ops -p 'test_*.py'
"""
import hashlib
import os
import re
import shutil
import json
import subprocess
import sys
import tempfile
import threading
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from publishing import launcher_release, launcher_rules as rules, pe_version, server_check  # noqa: E402
from publishing import block_map, server_tree, signing  # noqa: E402
from publishing.server_tree import PublishError  # noqa: E402
import content_server  # noqa: E402

KEYS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keys")
SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish.py")


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def quiet(*_):
    pass


def key(name):
    return os.path.join(KEYS, name + ".pem")


def public_hex(name):
    with open(os.path.join(KEYS, name + ".pub")) as f:
        return f.read().strip()


def signing_keys(*names):
    return signing.load_keys([key(n) for n in names])


def openssl_verifies(public, message, rs_hex):
    """openssl's verdict with the key and the signature rebuilt from their hex
    by openssl's own ASN.1 generator: nothing of tools/publishing/signing."""
    with tempfile.TemporaryDirectory(prefix="korval-kat-") as tmp:
        def der(name, conf):
            with open(os.path.join(tmp, name + ".cnf"), "w") as f:
                f.write(conf)
            subprocess.run(["openssl", "asn1parse", "-genconf", os.path.join(tmp, name + ".cnf"),
                            "-out", os.path.join(tmp, name), "-noout"], check=True,
                           capture_output=True)
            return os.path.join(tmp, name)
        public_der = der("key.der", "asn1=SEQUENCE:spki\n[spki]\nalg=SEQUENCE:alg\n"
                         "key=FORMAT:HEX,BITSTRING:04%s\n[alg]\nkind=OID:id-ecPublicKey\n"
                         "curve=OID:prime256v1\n" % public)
        signature_der = der("sig.der", "asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x%s\ns=INTEGER:0x%s\n"
                            % (rs_hex[:64], rs_hex[64:]))
        run = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public_der, "-keyform", "DER",
                              "-signature", signature_der], input=message, capture_output=True)
        return run.returncode == 0


def signature_lines(path, document):
    """(release, {key id: r||s hex}) of a signature file in exactly the documented form."""
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    form = re.fullmatch(r"korval-signature 1\ndocument %s\nrelease ([1-9][0-9]*)\n"
                        r"((?:signature [0-9a-f]{16} [0-9a-f]{128}\n){1,2})" % re.escape(document), text)
    assert form, text
    lines = dict(line.split(" ")[1:] for line in form.group(2).splitlines())
    return int(form.group(1)), lines



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

    def test_block_description_members_are_all_or_none(self):
        described = (b'{"basePath": "/r", "files": [{"hash": "' + b"a" * 64 + b'", "size": 4097, '
                     b'"blocksUrl": "a.blocks", "blocksSize": 46, "blocksHash": "' + b"B" * 64 +
                     b'", "blockSize": 2048, "url": "a"}]}')
        self.assertEqual(rules.parse_manifest(described)[1:], ([(b"a", b"a" * 64, 4097)], None))
        self.assertEqual(rules.parse_manifest(described, with_blocks=True)[1][0][3],
                         (b"a.blocks", 46, b"b" * 64, 2048))
        for text in (described.replace(b'"blocksUrl": "a.blocks", ', b""),
                     described.replace(b'"blocksSize": 46', b'"blocksSize": 61'),
                     described.replace(b'"blockSize": 2048', b'"blockSize": 3072'),
                     described.replace(b'"blockSize": 2048', b'"blockSize": 256'),
                     described.replace(b'"a.blocks"', b'"../a.blocks"'),
                     described.replace(b"B" * 64, b"g" * 64)):
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


class SignatureFormatTest(unittest.TestCase):
    """Known answers the launcher's CNG verification must agree with."""
    DOCUMENT = (b'{"version": "0.1.5", "url": "korval_launcher-0.1.5.exe", "sha256": "' + b"0" * 64 +
                b'", "size": 1}\n')
    # Made once with tests/keys/release_a.pem over release 7 of DOCUMENT.
    SIGNATURE = ("4bdf9768695926abb5cdfc5d71a7d94390b868ac494cccee0b3bd0c4cfaff16a"
                 "5386cb97bf9184c5c97f005528b3ad4f57c7c8d9b1b418fd5d5a2f36fc2086d1")

    def test_known_answer_agrees_with_an_independent_openssl_path(self):
        release_a = signing.SigningKey(key("release_a"))
        self.assertEqual(release_a.point.hex(), public_hex("release_a"))
        self.assertEqual(release_a.id, "8dd381f32e109733")
        message = signing.signed_message("latest.json", 7, self.DOCUMENT)
        self.assertEqual(message, b"korval-signature 1\ndocument latest.json\nrelease 7\n" + self.DOCUMENT)
        fresh = release_a.sign(message).hex()
        for rs in (self.SIGNATURE, fresh):
            self.assertTrue(openssl_verifies(public_hex("release_a"), message, rs), rs)
            self.assertTrue(signing.verify(release_a.point, message, bytes.fromhex(rs)), rs)
        for other in (signing.signed_message("latest.json", 8, self.DOCUMENT),
                      signing.signed_message("manifest.json", 7, self.DOCUMENT)):
            self.assertFalse(openssl_verifies(public_hex("release_a"), other, self.SIGNATURE))
            self.assertFalse(signing.verify(release_a.point, other, bytes.fromhex(self.SIGNATURE)))
        self.assertFalse(signing.verify(bytes.fromhex(public_hex("release_b")), message,
                                        bytes.fromhex(self.SIGNATURE)))

    def test_der_of_short_and_high_bit_integers(self):
        # One signature in 256 has an r or s below 2^248, one in two a top bit set.
        for r, s in (("00" * 31 + "ab", "80" + "ff" * 31), ("0000ff" + "11" * 29, "7f" + "00" * 31)):
            rs = bytes.fromhex(r + s)
            with tempfile.TemporaryDirectory() as tmp:
                conf, out = os.path.join(tmp, "c"), os.path.join(tmp, "d")
                write(conf, b"asn1=SEQUENCE:sig\n[sig]\nr=INTEGER:0x%s\ns=INTEGER:0x%s\n"
                      % (r.encode(), s.encode()))
                subprocess.run(["openssl", "asn1parse", "-genconf", conf, "-out", out, "-noout"],
                               check=True, capture_output=True)
                with open(out, "rb") as f:
                    der = f.read()
            self.assertEqual(signing.rs_to_der(rs), der)
            self.assertEqual(signing.der_to_rs(der), rs)

    def test_malformed_signature_files(self):
        line = b"signature " + b"0" * 16 + b" " + b"ab" * 64 + b"\n"
        good = b"korval-signature 1\ndocument manifest.json\nrelease 42\n" + line
        self.assertEqual(signing.parse_signature_file(good, "manifest.json")[:2],
                         (42, [("0" * 16, b"\xab" * 64)]))
        for same in (good.replace(b"\n", b"\r\n"), good[:-1]):
            self.assertEqual(signing.parse_signature_file(same, "manifest.json")[0], 42, same)
        self.assertEqual(signing.parse_signature_file(good.replace(b"release 42", b"release %d" % (2 ** 63 - 1)),
                                                      "manifest.json")[0], 2 ** 63 - 1)
        for bad in (good.replace(b"ab", b"AB"), good.replace(b"42", b"042"), good.replace(b"42", b"0"),
                    good.replace(b"release 42", b"release %d" % 2 ** 63), good + line + line,
                    good + b"\n", good.replace(b"document manifest", b"document latest"),
                    good.replace(line, b""), line + good[:-len(line)], good.replace(b" 1\n", b" 2\n", 1),
                    good + b"x" * 2048):
            self.assertIsNotNone(signing.parse_signature_file(bad, "manifest.json")[2], bad)


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

    def test_large_files_get_a_block_description_that_later_releases_share(self):
        size = block_map.THRESHOLD + 5
        data = bytes(range(256)) * (size // 256) + b"tail!"
        write(os.path.join(self.game, "models", "gta3.img"), data)
        write(os.path.join(self.game, "small.txt"), b"s" * (block_map.THRESHOLD - 1))
        self.publish("r1")
        _, entries, error = rules.parse_manifest(self.manifest(), with_blocks=True)
        self.assertIsNone(error)
        described = {url: blocks for url, _, _, blocks in entries}
        self.assertIsNone(described[b"small.txt"])
        url, blocks_size, digest, block_size = described[b"models/gta3.img"]
        self.assertEqual((url, block_size), (b"models/gta3.img.blocks", 2048))
        with open(self.served("r1", url.decode()), "rb") as f:
            description = f.read()
        self.assertEqual(hashlib.sha256(description).hexdigest().encode(), digest)
        self.assertEqual(len(description), blocks_size)
        self.assertEqual(description[:28], b"KVBLOCKS" + (2).to_bytes(4, "little") +
                         (2048).to_bytes(4, "little") + size.to_bytes(8, "little") +
                         bytes([2, 4, 0, 0]))
        # Entries checked with rsync's sums written out the long way: 2 bytes
        # of weak sum and 4 of SHA-256 for a file of this size. The last block
        # is five bytes padded with zeros.
        blocks = [data[i:i + 2048].ljust(2048, b"\0") for i in range(0, size, 2048)]
        self.assertEqual(len(description), 28 + 6 * len(blocks))
        for n in (0, 1, len(blocks) - 1):
            b = sum((2048 - i) * x for i, x in enumerate(blocks[n])) % 65536
            entry = description[28 + 6 * n:34 + 6 * n]
            self.assertEqual(entry, b.to_bytes(2, "little") + hashlib.sha256(blocks[n]).digest()[:4])
        write(os.path.join(self.game, "small.txt"), b"changed")
        self.publish("r2")
        self.assertEqual(os.stat(self.served("r1", url.decode())).st_ino,
                         os.stat(self.served("r2", url.decode())).st_ino)
        os.remove(self.served("r1", url.decode()))
        with self.assertRaisesRegex(PublishError, "gta3.img.blocks: missing from r1"):
            server_tree.rollback(self.root, "r1", out=quiet)
        server_tree.rollback(self.root, "r2", out=quiet)
        self.assertEqual(rules.parse_manifest(self.manifest(), with_blocks=True)[1][0][3],
                         described[b"models/gta3.img"])
        write(os.path.join(self.game, "models", "gta3.img.blocks"), b"mine")
        with self.assertRaisesRegex(PublishError, "gta3.img.blocks: the block description"):
            self.publish("r3")
        # A description of an older format is written anew, not shared.
        os.remove(os.path.join(self.game, "models", "gta3.img.blocks"))
        older = self.served("r2", url.decode())
        os.remove(older)
        write(older, description[:8] + (1).to_bytes(4, "little") + description[12:])
        self.publish("r3")
        with open(self.served("r3", url.decode()), "rb") as f:
            self.assertEqual(f.read(), description)

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


class SignedReleaseTest(TreeCase):
    def verify_document(self, path, document, names):
        release, lines = signature_lines(path + ".sig", document)
        self.assertEqual(sorted(lines), sorted(signing.SigningKey(key(n)).id for n in names))
        with open(path, "rb") as f:
            message = signing.signed_message(document, release, f.read())
        for name in names:
            self.assertTrue(openssl_verifies(public_hex(name), message,
                                             lines[signing.SigningKey(key(name)).id]), name)
        return release

    def test_one_counter_across_commands_and_two_keys_in_a_roll_over(self):
        manifest = os.path.join(self.root, "pc", "manifest.json")
        latest = os.path.join(self.root, "pc", "launcher", "latest.json")
        write(os.path.join(self.game, "f"), b"1")
        server_tree.publish(self.game, self.root, "r1", out=quiet, keys=signing_keys("release_a"))
        self.assertEqual(self.verify_document(manifest, "manifest.json", ["release_a"]), 1)
        r1 = self.manifest()
        exe = build_exe(self.tmp, "l1", "0.1", "0,1,0,0")
        launcher_release.publish_launcher(exe, self.root, "0.1", out=quiet, keys=signing_keys("release_a"))
        self.assertEqual(self.verify_document(latest, "latest.json", ["release_a"]), 2)
        write(os.path.join(self.game, "f"), b"2")
        server_tree.publish(self.game, self.root, "r2", out=quiet,
                            keys=signing_keys("release_a", "release_b"))
        self.assertEqual(self.verify_document(manifest, "manifest.json", ["release_a", "release_b"]), 3)
        server_tree.rollback(self.root, "r1", out=quiet, keys=signing_keys("release_b"))
        self.assertEqual(self.manifest(), r1)
        self.assertEqual(self.verify_document(manifest, "manifest.json", ["release_b"]), 4)
        # Signature files gone (a tree made unsigned for a while): the number
        # still only grows, or players who saw 4 would refuse what follows.
        os.remove(manifest + ".sig")
        os.remove(latest + ".sig")
        server_tree.publish(self.game, self.root, "r3", out=quiet)
        launcher_release.publish_launcher(exe, self.root, "0.1", out=quiet, keys=signing_keys("release_a"))
        self.assertEqual(self.verify_document(latest, "latest.json", ["release_a"]), 5)

    def test_an_unsigned_rewrite_of_a_signed_document_is_refused_before_anything_is_written(self):
        write(os.path.join(self.game, "f"), b"1")
        server_tree.publish(self.game, self.root, "r1", out=quiet, keys=signing_keys("release_a"))
        before = self.manifest()
        write(os.path.join(self.game, "f"), b"2")
        with self.assertRaisesRegex(PublishError, "manifest.json.sig exists"):
            server_tree.publish(self.game, self.root, "r2", out=quiet)
        with self.assertRaisesRegex(PublishError, "manifest.json.sig exists"):
            server_tree.rollback(self.root, "r1", out=quiet)
        self.assertEqual(self.manifest(), before)
        self.assertEqual(os.listdir(os.path.join(self.root, "pc", "files")), ["r1"])
        self.assertEqual(self.verify_document(os.path.join(self.root, "pc", "manifest.json"),
                                              "manifest.json", ["release_a"]), 1)

    def test_check_verifies_both_signatures_and_names_each_fault(self):
        write(os.path.join(self.game, "data.img"), b"d" * 5000)
        server_tree.publish(self.game, self.root, "r1", out=quiet, keys=signing_keys("release_a"))
        launcher_release.publish_launcher(build_exe(self.tmp, "l1", "0.1", "0,1,0,0"), self.root, "0.1",
                                          out=quiet, keys=signing_keys("release_a", "release_b"))
        # latest.json carries both keys' signatures, the manifest only release_a's.
        lines = self.check([public_hex("release_b")])
        self.assertEqual(len(lines), 2, lines)
        self.assertIn("manifest.json.sig: signed with key 8dd381f32e109733, none of the given", lines[0])
        # Several ranges answered as nginx does are a note, never a problem.
        self.assertIn("note: /pc/files/r1/data.img: a request for 3 ranges: answered "
                      "multipart/byteranges with the right parts", lines[1])
        self.assertIn(", their signatures and 1 files", self.check([public_hex("release_a")])[-1])

        manifest = os.path.join(self.root, "pc", "manifest.json")
        latest = os.path.join(self.root, "pc", "launcher", "latest.json")
        with open(manifest, "rb") as f:
            text = f.read()
        with open(manifest, "wb") as f:
            f.write(text.replace(b"]}", b" ]}"))
        os.remove(latest + ".sig")
        lines = self.check([public_hex("release_a")])
        self.assertEqual(len(lines), 3, lines)
        self.assertIn("/pc/launcher/latest.json.sig: status 404", lines[0])
        self.assertIn("/pc/manifest.json.sig: the signature of key 8dd381f32e109733 does not verify",
                      lines[1])
        server_tree.rollback(self.root, "r1", out=quiet, keys=signing_keys("stranger"))
        lines = self.check([public_hex("release_a"), public_hex("release_b")])
        self.assertIn("manifest.json.sig: signed with key %s, none of the given"
                      % signing.SigningKey(key("stranger")).id, lines[-2])

    def test_check_tells_how_a_request_for_several_ranges_is_answered(self):
        size = block_map.THRESHOLD + 5000
        write(os.path.join(self.game, "models", "gta3.img"), os.urandom(size))
        write(os.path.join(self.game, "small.txt"), b"s" * 100)
        self.publish("r1")
        asked = ["%d-%d" % r for r in server_check.multi_ranges(size)]
        shifted = "%d-%d" % tuple(n + 1 for n in server_check.multi_ranges(size)[0])
        kinds = [
            ({}, "answered multipart/byteranges with the right parts (206)"),
            ({"reverse_parts": True}, "answered multipart/byteranges with the right parts (206)"),
            ({"max_ranges": 1}, "answered with the whole file (200); the launcher then asks one "
                                "range per request"),
            ({"single_range": True}, "answered with one range (206 of bytes %s/%d)" % (asked[0], size)),
        ]
        broken = [
            ({"malformed_multipart": "short_part"},
             "the part of bytes %s does not end where its Content-Range says" % asked[0]),
            ({"malformed_multipart": "bad_boundary"},
             "the part of bytes %s does not end where its Content-Range says" % asked[0]),
            ({"malformed_multipart": "missing_part"},
             "parts of bytes %s for bytes %s asked" % (",".join(asked[:2]), ",".join(asked))),
            ({"malformed_multipart": "wrong_range"},
             "parts of bytes %s for bytes %s asked" % (",".join([shifted] + asked[1:]), ",".join(asked))),
            ({"malformed_multipart": "short_parts"}, "answered 500, neither 206 nor 200"),
        ]
        with TestContentServer(self.root, self.tmp) as server:
            baseline = None
            for fault, said in kinds + broken:
                server.fault("/pc/files/r1/models/gta3.img", fault)
                lines = []
                count = server_check.check(server.url, cafile=server.cert, out=lines.append)
                problems = [line for line in lines if not line.startswith("note: ")]
                notes = [line for line in lines if line.startswith("note: ")]
                # What the server does besides (no Cache-Control, no launcher) stays the same.
                baseline = baseline or problems
                if (fault, said) in kinds:
                    self.assertEqual((count, problems), (len(baseline), baseline), fault)
                    self.assertEqual(len(notes), 1, lines)
                    self.assertIn("/pc/files/r1/models/gta3.img: a request for 3 ranges: " + said,
                                  notes[0])
                else:
                    self.assertEqual((count, notes), (len(baseline) + 1, []), lines)
                    self.assertEqual(sorted(set(problems) - set(baseline)), [p for p in problems
                                                                             if said in p], lines)
            # A server that ignores ranges does so for several too.
            server.fault("/pc/files/r1/models/gta3.img", {"ignore_range": True})
            lines = []
            server_check.check(server.url, cafile=server.cert, out=lines.append)
            self.assertIn("a request for 3 ranges: answered with the whole file (200)", lines[-1])
            multi = [r for r in server.asked_ranges() if "," in r]
            self.assertEqual(multi, ["bytes=" + ",".join(asked)] * (len(kinds) + len(broken) + 1))

    def check(self, keys):
        lines = []
        with mock.patch.object(server_check, "Server", lambda *_: TreeServer(self.root)):
            server_check.check("https://content.test/", out=lines.append,
                               keys=[bytes.fromhex(k) for k in keys])
        return lines


class TreeServer:
    """The tree as the repository's nginx site serves it, for check."""
    base_url = "https://content.test/"

    def __init__(self, root):
        self.root = root

    def close(self):
        pass

    def get(self, path, extra=None, limit=None, sink=None):
        try:
            with open(os.path.join(self.root, *path.lstrip("/").split("/")), "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return 404, {}, None if sink else b""
        status, headers, whole = 200, {"cache-control": "no-cache"}, data
        asked = (extra or {}).get("Range")
        if asked:
            ranges = [(int(first), int(last) if last else len(whole) - 1) for first, _, last in
                      (item.partition("-") for item in asked[len("bytes="):].split(","))]
            status, data = 206, b""
            if len(ranges) == 1:
                data = whole[ranges[0][0]:ranges[0][1] + 1]
                headers["content-range"] = "bytes %d-%d/%d" % (ranges[0] + (len(whole),))
            else:
                headers["content-type"] = "multipart/byteranges; boundary=00000000000000000001"
                for first, last in ranges:
                    data += (b"\r\n--00000000000000000001\r\nContent-Type: application/octet-stream"
                             b"\r\nContent-Range: bytes %d-%d/%d\r\n\r\n" % (first, last, len(whole)) +
                             whole[first:last + 1])
                data += b"\r\n--00000000000000000001--\r\n"
        if sink:
            sink(data)
            return status, headers, None
        return status, headers, data


class TestContentServer:
    """tools/content_server.py on a free loopback port, over HTTPS with a
    certificate of its own, serving a tree."""

    def __init__(self, root, tmp):
        self.control = os.path.join(tmp, "control")
        self.cert, key = os.path.join(tmp, "cert.pem"), os.path.join(tmp, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                        "-addext", "subjectAltName=DNS:localhost", "-keyout", key, "-out", self.cert],
                       check=True, capture_output=True)
        self.server = content_server.make_server(root, self.control, "127.0.0.1", 0, self.cert, key)
        self.url = "https://localhost:%d/" % self.server.server_address[1]

    def __enter__(self):
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *_):
        self.server.shutdown()
        self.server.server_close()

    def fault(self, path, fault):
        with open(os.path.join(self.control, "faults.tmp"), "w") as f:
            json.dump({path: fault}, f)
        os.replace(os.path.join(self.control, "faults.tmp"), os.path.join(self.control, "faults.json"))

    def asked_ranges(self):
        with open(os.path.join(self.control, "requests.log"), encoding="utf-8") as f:
            records = [json.loads(line) for line in f]
        return [v for r in records for k, v in r["headers"] if k.lower() == "range"]


class CommandLineTest(TreeCase):
    def test_refusals_go_to_stderr_one_per_line_with_exit_code_1(self):
        write(os.path.join(self.game, "CON"))
        write(os.path.join(self.game, "aux.dat"))
        run = subprocess.run([sys.executable, SCRIPT, "publish", self.game, self.root],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr.count("refused: "), 2, run.stderr)

    def test_keygen_writes_a_private_key_once_and_prints_its_public_half(self):
        path = os.path.join(self.tmp, "release.pem")
        run = subprocess.run([sys.executable, SCRIPT, "keygen", path], capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
        made = signing.SigningKey(path)
        self.assertIn(made.point.hex(), run.stdout)
        self.assertIn(made.id, run.stdout)
        self.assertIn("content server", run.stdout)
        with open(path, "rb") as f:
            pem = f.read()
        run = subprocess.run([sys.executable, SCRIPT, "keygen", path], capture_output=True, text=True)
        self.assertEqual(run.returncode, 1)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), pem)
        write(os.path.join(self.game, "f"))
        three = ["--key", key("release_a"), "--key", key("release_b"), "--key", key("stranger")]
        run = subprocess.run([sys.executable, SCRIPT, "publish", self.game, self.root] + three,
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 2, run.stderr)
        run = subprocess.run([sys.executable, SCRIPT, "publish", self.game, self.root],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("warning: manifest.json is not signed", run.stdout)


if __name__ == "__main__":
    unittest.main()
