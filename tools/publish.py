#!/usr/bin/env python3
"""Publishes game releases and launcher builds on a content server's tree,
and checks a deployed server as the launcher will use it.

  publish.py keygen PRIVATE_KEY_FILE
      A new release key pair: the private key into a new file (mode 0600),
      the public key (128 hex digits, for tools/release.sh --release-key) and
      its key id printed. The private key never goes to the content server.
  publish.py publish GAME_DIR ROOT [--release NAME] [--key PEM]...
      New release folder ROOT/pc/files/NAME with every file of GAME_DIR, then
      ROOT/pc/manifest.json naming it (written last, atomically). Files that
      an earlier release serves unchanged are hard links, not copies.
  publish.py prune ROOT --keep N
      Removes all release folders but the newest N (the live one always stays).
      It rewrites neither document, so it signs nothing.
  publish.py rollback ROOT RELEASE [--key PEM]...
      Makes a kept release live again (rewrites ROOT/pc/manifest.json).
  publish.py publish-launcher EXE ROOT --version VERSION [--key PEM]...
      ROOT/pc/launcher/korval_launcher-VERSION.exe, then latest.json. Refused
      unless the executable's version resource says VERSION.
  publish.py check https://HOST[:PORT]/ [--cafile PEM | --insecure] [--public-key HEX]...
      One line per problem on the deployed server; exit code 1 on any. With
      --public-key, also the signatures of both documents. "note: " lines
      are no problems: how the server answers several ranges in one request.

--key (once, or twice during a key roll-over) signs the document a command
writes: manifest.json.sig or latest.json.sig beside it, numbered one more
than the highest release signed on the tree. Without it the document is
unsigned, which only launchers built without release keys accept.

ROOT is the folder the web server serves. Exit code 0 on success, 1 when
refused or when check found problems, 2 on wrong usage.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from publishing import launcher_release, server_check, server_tree, signing  # noqa: E402


def main(argv=None):
    parser = argparse.ArgumentParser(prog="publish.py", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)

    def signing_keys(p):
        p.add_argument("--key", action="append", metavar="PRIVATE_KEY_FILE",
                       help="sign with this key (PEM); twice during a key roll-over")

    def public_key(text):
        try:
            return signing.parse_public_key(text)
        except signing.SigningError as e:
            raise argparse.ArgumentTypeError(str(e))

    p = commands.add_parser("keygen", help="make a release key pair")
    p.add_argument("private_key_file", help="new file for the private key (never overwritten)")

    p = commands.add_parser("publish", help="publish a game folder as a new release")
    p.add_argument("game_dir")
    p.add_argument("root", help="the folder the web server serves")
    p.add_argument("--release", help="release folder name (default: UTC date and time)")
    signing_keys(p)

    p = commands.add_parser("prune", help="remove old releases")
    p.add_argument("root")
    p.add_argument("--keep", type=int, required=True, help="newest releases to keep (>= 1)")

    p = commands.add_parser("rollback", help="make a kept release live again")
    p.add_argument("root")
    p.add_argument("release")
    signing_keys(p)

    p = commands.add_parser("publish-launcher", help="publish a launcher executable")
    p.add_argument("exe")
    p.add_argument("root")
    p.add_argument("--version", required=True, help="the launcher's version, e.g. 0.1.5")
    signing_keys(p)

    p = commands.add_parser("check", help="check a deployed content server")
    p.add_argument("url", help="https://host[:port]/")
    trust = p.add_mutually_exclusive_group()
    trust.add_argument("--cafile", help="trust this certificate (PEM) instead of the system's")
    trust.add_argument("--insecure", action="store_true", help="do not verify the certificate")
    p.add_argument("--public-key", action="append", type=public_key, metavar="HEX",
                   help="also verify both signatures against this key (128 hex digits X||Y); "
                        "twice for the two keys of a roll-over")

    args = parser.parse_args(argv)
    if len(getattr(args, "key", None) or []) > signing.MAX_KEYS or \
            len(getattr(args, "public_key", None) or []) > signing.MAX_KEYS:
        parser.error("at most %d keys: a launcher holds one, or two during a roll-over"
                     % signing.MAX_KEYS)
    try:
        keys = signing.load_keys(getattr(args, "key", None))
        if args.command == "keygen":
            signing.keygen(args.private_key_file)
        elif args.command == "publish":
            server_tree.publish(args.game_dir, args.root, args.release, keys=keys)
        elif args.command == "prune":
            server_tree.prune(args.root, args.keep)
        elif args.command == "rollback":
            server_tree.rollback(args.root, args.release, keys=keys)
        elif args.command == "publish-launcher":
            launcher_release.publish_launcher(args.exe, args.root, args.version, keys=keys)
        else:
            return 1 if server_check.check(args.url, args.cafile, args.insecure,
                                           keys=args.public_key) else 0
    except (server_tree.PublishError, signing.SigningError) as e:
        for line in str(e).splitlines():
            print("refused: " + line, file=sys.stderr)
        return 1
    except (OSError, ValueError) as e:
        print("failed: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
