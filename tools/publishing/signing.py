"""Release keys and the detached signature files beside the two documents
(docs/signing.md).

The cryptography is openssl's command-line tool; this module only moves
between its forms (PEM keys, DER signatures) and the launcher's (a public
key as X||Y in hexadecimal, a signature as r||s), because the launcher
verifies with Windows' CNG, which takes exactly those.
"""
import base64
import hashlib
import os
import re
import subprocess
import tempfile

FORMAT_LINE = b"korval-signature 1"
MAX_SIGNATURE_FILE = 2048
MAX_RELEASE = (1 << 63) - 1
MAX_KEYS = 2
DOCUMENTS = ("manifest.json", "latest.json")

# A P-256 SubjectPublicKeyInfo is this fixed prefix (id-ecPublicKey,
# prime256v1, a 66-byte bit string) followed by the uncompressed point
# 04||X||Y; recognising it whole also proves the curve.
SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
PUBLIC_KEY_HEX = re.compile(r"^[0-9a-f]{128}$")
HEX64 = b"0123456789abcdef"
SIGNATURE_LINE = re.compile(rb"^signature ([0-9a-f]{16}) ([0-9a-f]{128})$")
RELEASE_LINE = re.compile(rb"^release ([1-9][0-9]{0,18})$")


class SigningError(Exception):
    pass


def openssl(args, data=b""):
    try:
        run = subprocess.run(["openssl"] + args, input=data, capture_output=True)
    except FileNotFoundError:
        raise SigningError("the openssl command is missing")
    return run.returncode, run.stdout, run.stderr.decode("utf-8", "replace").strip()


def key_id(point):
    """16 hex digits naming a public key (its 64 bytes X||Y)."""
    return hashlib.sha256(point).hexdigest()[:16]


def point_from_spki(der):
    if len(der) != len(SPKI_PREFIX) + 65 or not der.startswith(SPKI_PREFIX + b"\x04"):
        raise SigningError("not a P-256 public key")
    return der[len(SPKI_PREFIX) + 1:]


def public_key_pem(point):
    body = base64.encodebytes(SPKI_PREFIX + b"\x04" + point).decode("ascii").replace("\n", "")
    lines = [body[i:i + 64] for i in range(0, len(body), 64)]
    return ("-----BEGIN PUBLIC KEY-----\n%s\n-----END PUBLIC KEY-----\n" % "\n".join(lines)).encode()


def parse_public_key(text):
    """The 64 bytes of a public key given as 128 lower-case hex digits,
    once openssl accepts it as a point on the curve."""
    if not PUBLIC_KEY_HEX.match(text):
        raise SigningError("public key '%s': give 128 lower-case hexadecimal digits (X then Y)"
                           % (text if len(text) <= 20 else text[:20] + "..."))
    point = bytes.fromhex(text)
    code, _, _ = openssl(["pkey", "-pubin", "-noout"], public_key_pem(point))
    if code != 0:
        raise SigningError("public key %s...: not a point of the P-256 curve" % text[:16])
    return point


def der_to_rs(der):
    """openssl's ECDSA-Sig-Value (DER) as the 64 bytes r||s."""
    def integer(at):
        if der[at:at + 1] != b"\x02" or at + 2 > len(der):
            raise SigningError("signature: not an ECDSA DER value")
        length = der[at + 1]
        value = der[at + 2:at + 2 + length]
        if length < 1 or length > 33 or len(value) != length:
            raise SigningError("signature: not an ECDSA DER value")
        value = value.lstrip(b"\x00")
        if len(value) > 32:
            raise SigningError("signature: an integer longer than 32 bytes")
        return value.rjust(32, b"\x00"), at + 2 + length
    if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
        raise SigningError("signature: not an ECDSA DER value")
    r, at = integer(2)
    s, at = integer(at)
    if at != len(der):
        raise SigningError("signature: bytes after the ECDSA DER value")
    return r + s


def rs_to_der(rs):
    def integer(value):
        value = value.lstrip(b"\x00") or b"\x00"
        if value[0] & 0x80:
            value = b"\x00" + value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(rs[:32]) + integer(rs[32:])
    return b"\x30" + bytes([len(body)]) + body


def signed_message(document, release, data):
    return header(document, release) + data


def header(document, release):
    return b"%s\ndocument %s\nrelease %d\n" % (FORMAT_LINE, document.encode("ascii"), release)


def verify(point, message, rs):
    """True when rs is a valid signature of message under the public key."""
    with tempfile.TemporaryDirectory(prefix="korval-verify-") as tmp:
        key, sig = os.path.join(tmp, "key.pem"), os.path.join(tmp, "sig.der")
        with open(key, "wb") as f:
            f.write(public_key_pem(point))
        with open(sig, "wb") as f:
            f.write(rs_to_der(rs))
        code, out, _ = openssl(["dgst", "-sha256", "-verify", key, "-signature", sig], message)
    return code == 0 and b"Verified OK" in out


class SigningKey:
    def __init__(self, path):
        self.path = path
        if not os.path.isfile(path):
            raise SigningError("%s: no such key file" % path)
        code, der, error = openssl(["ec", "-in", path, "-pubout", "-outform", "DER",
                                    "-conv_form", "uncompressed"])
        if code != 0:
            raise SigningError("%s: not an EC private key openssl can read (%s)"
                               % (path, error.splitlines()[-1] if error else "no reason given"))
        try:
            self.point = point_from_spki(der)
        except SigningError as e:
            raise SigningError("%s: %s" % (path, e))
        self.id = key_id(self.point)

    def sign(self, message):
        code, der, error = openssl(["dgst", "-sha256", "-sign", self.path], message)
        if code != 0:
            raise SigningError("%s: signing failed (%s)" % (self.path, error))
        rs = der_to_rs(der)
        # Checked the way a player's launcher will check it: a signature that
        # fails here would lock every player out of this release.
        if not verify(self.point, message, rs):
            raise SigningError("%s: the signature just made does not verify" % self.path)
        return rs


def load_keys(paths):
    """The signing keys of a command; None when it signs nothing."""
    if not paths:
        return None
    if len(paths) > MAX_KEYS:
        raise SigningError("at most %d --key: launchers hold one key, or two during a "
                           "roll-over" % MAX_KEYS)
    keys = [SigningKey(p) for p in paths]
    if len({k.id for k in keys}) != len(keys):
        raise SigningError("--key names the same key twice (%s)" % keys[0].id)
    return keys


def signature_file(document, release, data, keys):
    if not 1 <= release <= MAX_RELEASE:
        raise SigningError("release number %d is out of range" % release)
    message = signed_message(document, release, data)
    lines = [b"signature %s %s\n" % (k.id.encode(), k.sign(message).hex().encode()) for k in keys]
    return header(document, release) + b"".join(lines)


def parse_signature_file(text, document):
    """(release, [(key id, r||s)], None), or (None, None, why it is malformed)."""
    if len(text) > MAX_SIGNATURE_FILE:
        return None, None, "%d bytes, over %d" % (len(text), MAX_SIGNATURE_FILE)
    # The launcher takes a last line without its line feed, so this does too.
    body = text[:-1] if text.endswith(b"\n") else text
    lines = [line[:-1] if line.endswith(b"\r") else line for line in body.split(b"\n")]
    if lines[0] != FORMAT_LINE:
        return None, None, "line 1 is not '%s'" % FORMAT_LINE.decode()
    if len(lines) < 2 or lines[1] != b"document " + document.encode():
        return None, None, "line 2 is not 'document %s'" % document
    release = RELEASE_LINE.match(lines[2]) if len(lines) > 2 else None
    if not release or int(release.group(1)) > MAX_RELEASE:
        return None, None, "line 3 is not 'release N' (N from 1 to 2^63-1, no leading zero)"
    signatures = []
    for number, line in enumerate(lines[3:], 4):
        found = SIGNATURE_LINE.match(line)
        if not found:
            return None, None, "line %d is not 'signature KEYID R||S' in lower-case hex" % number
        signatures.append((found.group(1).decode(), bytes.fromhex(found.group(2).decode())))
    if not 1 <= len(signatures) <= MAX_KEYS:
        return None, None, "%d signature lines, not 1 or 2" % len(signatures)
    return int(release.group(1)), signatures, None


def keygen(path, out=print):
    """A new P-256 key pair: the private key into path (0600), the public key printed."""
    code, pem, error = openssl(["ecparam", "-name", "prime256v1", "-genkey", "-noout"])
    if code != 0 or b"PRIVATE KEY" not in pem:
        raise SigningError("openssl could not make a key (%s)" % error)
    # O_EXCL: a key that signed releases players trust must never be
    # overwritten by a slip of the command line.
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        raise SigningError("%s already exists; it is not overwritten (choose another name)" % path)
    try:
        os.fchmod(fd, 0o600)
        os.write(fd, pem)
        os.fsync(fd)
    finally:
        os.close(fd)
    key = SigningKey(path)
    out("private key: %s (mode 0600)" % path)
    out("public key:  %s" % key.point.hex())
    out("key id:      %s" % key.id)
    out("The private key stays with you, on this machine and an offline backup. Never copy it to "
        "the content server or a CI: anyone who holds it can make every player's launcher run "
        "their files. The public key goes to tools/release.sh --release-key.")
    return key
