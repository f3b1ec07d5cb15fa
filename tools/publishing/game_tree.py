"""The game folder as the launcher will install it: every file with its
manifest path, and every reason the launcher would refuse one of them.

All problems are collected, not just the first, so that an operator fixes a
folder in one round instead of one name per run.
"""
import os
import stat

from . import block_map
from . import launcher_rules as rules

# Beside the launcher, when a player keeps it in the game folder: its own
# executable and the ones a self-update swaps in, its log, the browser
# runtime, the runtime's cache root and the page override folder. A game
# file under one of these names would replace or hijack part of the launcher.
LAUNCHER_FOLDER_NAMES = (b"korval_launcher.exe", b"korval_launcher.exe.new",
                         b"korval_launcher.exe.old", b"korval_launcher.log",
                         b"cef", b"korval", b"ui")


class GameFile:
    def __init__(self, url, source, size):
        self.url = url            # manifest path, bytes with "/" separators
        self.source = source      # path on this machine
        self.size = size


def _url_text(url):
    return url.decode("utf-8", "replace")


def collect(game_dir):
    """(files in manifest order, problems), each problem one line naming its path."""
    files, problems = [], []
    if not os.path.isdir(game_dir):
        return [], ["%s: not a folder" % game_dir]
    root = os.fsencode(os.path.abspath(game_dir))

    def walk(folder, prefix):
        try:
            names = sorted(os.listdir(folder))
        except OSError as e:
            problems.append("%s: cannot list (%s)" % (_url_text(prefix) or ".", e.strerror))
            return
        if not names and prefix:
            problems.append("%s/: empty folder; the launcher installs files only, so it would "
                            "not exist on players' machines (put a file in it or remove it)"
                            % _url_text(prefix))
        for name in names:
            path = os.path.join(folder, name)
            url = prefix + b"/" + name if prefix else name
            try:
                st = os.lstat(path)
                if stat.S_ISLNK(st.st_mode):
                    st = os.stat(path)
                    if stat.S_ISDIR(st.st_mode):
                        problems.append("%s: symbolic link to a folder; copy the folder in instead"
                                        % _url_text(url))
                        continue
            except OSError as e:
                problems.append("%s: cannot read (%s)" % (_url_text(url), e.strerror))
                continue
            if stat.S_ISDIR(st.st_mode):
                walk(path, url)
            elif stat.S_ISREG(st.st_mode):
                if not os.access(path, os.R_OK):
                    problems.append("%s: not readable" % _url_text(url))
                else:
                    files.append(GameFile(url, path, st.st_size))
            else:
                problems.append("%s: not a regular file" % _url_text(url))

    walk(root, b"")
    if not files and not problems:
        problems.append("%s: no files to publish" % game_dir)
    return files, problems


def path_problems(files, base_path):
    """Every file the launcher would refuse under base_path, one line each."""
    problems, paths = [], rules.InstallPaths()
    room = rules.MAX_SERVER_PATH - len(base_path) - 1
    urls = {f.url for f in files}
    suffix = block_map.SUFFIX.encode()
    for f in files:
        if block_map.wanted(f.size):
            if f.url + suffix in urls:
                problems.append("%s: the block description of %s is published under this name"
                                % (_url_text(f.url + suffix), _url_text(f.url)))
            elif len(f.url) <= room < len(f.url) + len(suffix):
                problems.append("%s: path is %d bytes; its block description's (%s) must fit too, "
                                "under %s at most %d" % (_url_text(f.url), len(f.url), block_map.SUFFIX,
                                                         _url_text(base_path), room))
        top = rules.windows_path_key(f.url).split(b"/")[0]
        if top in LAUNCHER_FOLDER_NAMES:
            problems.append("%s: '%s' is the launcher's own name beside its executable; a player "
                            "who keeps the launcher in the game folder would lose it"
                            % (_url_text(f.url), _url_text(f.url.split(b"/")[0])))
            continue
        # The hash is ours to write, so a placeholder of the right length
        # leaves only the path rules to judge.
        problem = rules.entry_problem(base_path, f.url, b"0" * 64, paths)
        if problem and problem.startswith("server path is"):
            problem = "path is %d bytes; under %s at most %d fit" % (len(f.url), _url_text(base_path), room)
        if problem:
            problems.append("%s: %s" % (_url_text(f.url), problem))
    return problems
