#!/usr/bin/python3
"""A drive as strict as the root of Windows' system drive, for the tests.

A standard Windows user may create folders in the root of the system drive
but no files, while below it everything works. Wine's C: takes both, so a
write test that only Windows would refuse passes under Wine. This passthrough
filesystem (fusepy, run by Debian's /usr/bin/python3) mirrors BACKING at
MOUNTPOINT and answers EACCES to every new file, link, device node or
renamed file landing directly in its root; folders may be made, renamed and
removed there, and below the root nothing is refused.

Its free space is the backing disk's plus a large margin, so that the
launcher's default folder (on the fixed drive with the most free space) lands
on it while the test drive is linked into a Wine prefix.

Usage: strict_drive.py BACKING MOUNTPOINT   (stays in the foreground; end it
with fusermount -u MOUNTPOINT)
"""
import errno
import os
import stat
import sys

from fusepy import FUSE, FuseOSError, Operations

# Blocks of 1 MiB keep the counts small enough for a 32-bit statfs.
BLOCK = 1 << 20
MARGIN_BLOCKS = 64 << 20  # 64 TiB more than the backing disk has


class StrictDrive(Operations):
    def __init__(self, backing):
        self.backing = os.path.realpath(backing)

    def _full(self, path):
        return os.path.join(self.backing, path.lstrip('/'))

    @staticmethod
    def _in_root(path):
        return os.path.dirname(path.rstrip('/')) == '/'

    def _refuse_file_in_root(self, path):
        if self._in_root(path):
            raise FuseOSError(errno.EACCES)

    @staticmethod
    def _call(function, *args):
        try:
            return function(*args)
        except OSError as error:
            raise FuseOSError(error.errno)

    # What lands in the root: folders only.
    def create(self, path, mode, fi=None):
        self._refuse_file_in_root(path)
        return self._call(os.open, self._full(path), os.O_RDWR | os.O_CREAT, mode)

    def mknod(self, path, mode, dev):
        self._refuse_file_in_root(path)
        self._call(os.mknod, self._full(path), mode, dev)

    def symlink(self, target, source):
        self._refuse_file_in_root(target)
        self._call(os.symlink, source, self._full(target))

    def link(self, target, source):
        self._refuse_file_in_root(target)
        self._call(os.link, self._full(source), self._full(target))

    def rename(self, old, new):
        if self._in_root(new) and not os.path.isdir(self._full(old)):
            raise FuseOSError(errno.EACCES)
        self._call(os.rename, self._full(old), self._full(new))

    def mkdir(self, path, mode):
        self._call(os.mkdir, self._full(path), mode)

    # Everything else passes through.
    def access(self, path, mode):
        if not os.access(self._full(path), mode):
            raise FuseOSError(errno.EACCES)

    def chmod(self, path, mode):
        self._call(os.chmod, self._full(path), mode)

    def chown(self, path, uid, gid):
        self._call(os.chown, self._full(path), uid, gid)

    def getattr(self, path, fh=None):
        st = self._call(os.lstat, self._full(path))
        return {key: getattr(st, key) for key in (
            'st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime', 'st_nlink', 'st_size',
            'st_uid')}

    def readdir(self, path, fh):
        return ['.', '..'] + self._call(os.listdir, self._full(path))

    def readlink(self, path):
        return self._call(os.readlink, self._full(path))

    def rmdir(self, path):
        self._call(os.rmdir, self._full(path))

    def unlink(self, path):
        self._call(os.unlink, self._full(path))

    def utimens(self, path, times=None):
        self._call(os.utime, self._full(path), times)

    def statfs(self, path):
        st = os.statvfs(self.backing)
        free = st.f_bavail * st.f_frsize // BLOCK + MARGIN_BLOCKS
        return {'f_bsize': BLOCK, 'f_frsize': BLOCK, 'f_namemax': st.f_namemax,
                'f_blocks': st.f_blocks * st.f_frsize // BLOCK + MARGIN_BLOCKS,
                'f_bfree': free, 'f_bavail': free,
                'f_files': st.f_files, 'f_ffree': st.f_ffree, 'f_favail': st.f_favail}

    def open(self, path, flags):
        return self._call(os.open, self._full(path), flags)

    def read(self, path, size, offset, fh):
        return self._call(os.pread, fh, size, offset)

    def write(self, path, data, offset, fh):
        return self._call(os.pwrite, fh, data, offset)

    def truncate(self, path, length, fh=None):
        if fh is not None:
            self._call(os.ftruncate, fh, length)
        else:
            self._call(os.truncate, self._full(path), length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        self._call(os.fdatasync if datasync else os.fsync, fh)

    def release(self, path, fh):
        self._call(os.close, fh)


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: strict_drive.py BACKING MOUNTPOINT')
    FUSE(StrictDrive(sys.argv[1]), sys.argv[2], foreground=True, nothreads=False)


if __name__ == '__main__':
    main()
