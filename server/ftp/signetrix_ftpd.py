#!/usr/bin/python3
"""The backup FTP daemon: receives the program's backup archives and nothing else.

Run with Debian's interpreter (its pyftpdlib lives there):

  /usr/bin/python3 signetrix_ftpd.py --listen HOST:PORT --user U --password P \
      --root DIR --folder F

DIR is the FTP root, F the one backup folder inside it (a single path segment,
letters, digits, ".", "_" and "-", not starting with "."). DIR and DIR/F are
created when missing; DIR/F must be a real folder, not a symbolic link.
Port 0 takes any free port. Once listening, the one line "ftp=HOST:PORT"
(the address really bound) goes to standard output; logs go to standard error.

One account (U/P) may log in. A session may:
  - enter "/" or "/F" (CWD "/", "F" from the root, "/F", with or without a
    trailing "/"; CDUP goes back to "/");
  - open active data connections (PORT, EPRT) to its own address only;
  - store, in binary type only, an archive named digits + ".zip" (at most 32
    digits): "N.zip" inside /F, "/F/N.zip" from anywhere, "F/N.zip" from "/".
Everything else a backup does not need is refused with a reply that says why:
passive mode, listings, downloads, deletes, renames, folders, appends, unique
names, resumes, SITE, SIZE, MDTM, STAT of a path, and any other name or folder.

An upload goes to a temporary file ".upload-<hex>.part" beside its archive
(a name the web side never serves) and replaces the archive in one rename,
only when the data connection ended normally and the bytes form a complete
ZIP archive (its end record ends the file and its central directory sits where
that record says). In stream mode a client that gives up mid-transfer closes
the data connection just as one that has finished does, so the archive's own
structure is what tells a cut upload from a whole one. Anything else (a cut, a
dropped session, a full disk, more than MAX_UPLOAD_BYTES, not a ZIP archive)
leaves the old archive as it was and removes the temporary file; temporary
files left by a daemon that was killed are removed at the next start.

It stops within a quarter of a second, closing every session (uploads in
flight are dropped), when standard input reaches end of file (so the parent
must keep a pipe open on it: /dev/null stops it at once), on SIGTERM or
SIGINT, and when its parent process dies (the kernel's parent-death signal,
plus a check that the parent pid changed). The parent-death signal follows the
thread that started the daemon: start it from a thread that lives as long as
the parent wants the daemon.

Exit status: 0 after a normal stop; 2 for bad arguments; 1 when it cannot
listen or prepare the folder (one line on standard error says why).

Limits: MAX_SESSIONS sockets in all, MAX_SESSIONS_PER_IP control connections
per address, a session idle for IDLE_SECONDS or a transfer stalled for
STALL_SECONDS is closed; three failed logins end a session. Everything runs on
one thread: a disk that stalls stalls every session.
"""

import argparse
import ctypes
import errno
import hmac
import logging
import os
import re
import secrets
import signal
import socket
import struct
import sys
import threading

from pyftpdlib.authorizers import AuthenticationFailed, DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, proto_cmds
from pyftpdlib.servers import FTPServer

MAX_SESSIONS = 256          # sockets of every kind, data connections included
MAX_SESSIONS_PER_IP = 64    # control connections from one address
IDLE_SECONDS = 120
STALL_SECONDS = 60
MAX_UPLOAD_BYTES = 256 * 1024 * 1024
LOOP_TICK_SECONDS = 0.25    # how soon a stop request is noticed

ARCHIVE_NAME = re.compile(r'[0-9]{1,32}\.zip', re.ASCII)
FOLDER_NAME = re.compile(r'[A-Za-z0-9][A-Za-z0-9._-]{0,63}', re.ASCII)
TEMP_NAME = re.compile(r'\.upload-[0-9a-f]{16}\.part', re.ASCII)

# Commands a backup session uses; the rest of the library's set is refused.
ALLOWED = {
    'USER', 'PASS', 'QUIT', 'NOOP', 'SYST', 'FEAT', 'HELP', 'OPTS', 'STAT',
    'PWD', 'XPWD', 'CWD', 'XCWD', 'CDUP', 'XCUP', 'TYPE', 'MODE', 'STRU',
    'PORT', 'EPRT', 'STOR', 'ABOR', 'ALLO',
}
PASSIVE = {'PASV', 'EPSV'}
# Handled here rather than by the library, on the raw argument text.
OWN = {'CWD', 'XCWD', 'CDUP', 'XCUP', 'STOR'}

log = logging.getLogger('signetrix_ftpd')


class Refusal(Exception):
    """An upload that must not replace the archive; the text is the FTP reply."""


def zip_is_complete(fd, size):
    """Whether the file's bytes end exactly with a ZIP end record that points
    at a central directory just before it (ZIP64 records understood)."""
    if size < 22:
        return False
    tail_len = min(size, 22 + 0xFFFF)
    tail_start = size - tail_len
    tail = os.pread(fd, tail_len, tail_start)
    at = tail.rfind(b'PK\x05\x06')
    while at >= 0:
        if at + 22 <= len(tail):
            (_, disk, cd_disk, disk_entries, entries, cd_size, cd_offset,
             comment_len) = struct.unpack('<4s4H2LH', tail[at:at + 22])
            if at + 22 + comment_len == len(tail):
                end_record = tail_start + at
                if 0xFFFFFFFF in (cd_size, cd_offset) or 0xFFFF in (entries, disk, disk_entries):
                    return _zip64_is_complete(fd, end_record)
                if disk or cd_disk or disk_entries != entries:
                    return False  # spanned archives are not ours
                return _central_directory_fits(fd, entries, cd_offset, cd_size, end_record)
        at = tail.rfind(b'PK\x05\x06', 0, at)
    return False


def _zip64_is_complete(fd, end_record):
    if end_record < 20:
        return False
    locator = os.pread(fd, 20, end_record - 20)
    sig, _, record_at, _ = struct.unpack('<4sLQL', locator)
    if sig != b'PK\x06\x07' or record_at + 56 > end_record - 20:
        return False
    record = os.pread(fd, 56, record_at)
    (sig, record_size, _, _, disk, cd_disk, disk_entries, entries, cd_size,
     cd_offset) = struct.unpack('<4sQ2H2L4Q', record)
    if sig != b'PK\x06\x06' or record_at + 12 + record_size != end_record - 20:
        return False
    if disk or cd_disk or disk_entries != entries:
        return False
    return _central_directory_fits(fd, entries, cd_offset, cd_size, record_at)


def _central_directory_fits(fd, entries, cd_offset, cd_size, cd_end):
    if cd_offset + cd_size != cd_end:
        return False
    if entries == 0:
        return cd_size == 0
    if cd_size < 46:
        return False
    first = os.pread(fd, 46, cd_offset)
    if first[:4] != b'PK\x01\x02':
        return False
    local_at = struct.unpack('<L', first[42:46])[0]
    return local_at < cd_offset and os.pread(fd, 4, local_at) == b'PK\x03\x04'


class Store:
    """The backup folder, held open so that every file operation stays in it
    whatever later happens to the path."""

    def __init__(self, root, folder):
        os.makedirs(root, exist_ok=True)
        root_fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            try:
                os.mkdir(folder, 0o755, dir_fd=root_fd)
            except FileExistsError:
                pass
            self.fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_CLOEXEC,
                              dir_fd=root_fd)
        finally:
            os.close(root_fd)
        self.path = os.path.join(root, folder)
        self._sweep()

    def _sweep(self):
        with os.scandir(self.fd) as entries:
            for entry in entries:
                if TEMP_NAME.fullmatch(entry.name) and entry.is_file(follow_symlinks=False):
                    os.unlink(entry.name, dir_fd=self.fd)
                    log.info('removed %s left by an earlier run', entry.name)

    def begin(self, name):
        return PendingUpload(self, name)


class PendingUpload:
    """One STOR: a temporary file that becomes the archive on commit() and
    disappears on close() otherwise. Used by the library as the file object."""

    def __init__(self, store, final):
        self._store = store
        self.final = final
        self.temp = '.upload-%s.part' % secrets.token_hex(8)
        self.name = os.path.join(store.path, self.temp)  # for the library's transfer log
        self.size = 0
        self.closed = False
        self._fd = os.open(self.temp, os.O_RDWR | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC,
                           0o644, dir_fd=store.fd)

    def write(self, data):
        if self.size + len(data) > MAX_UPLOAD_BYTES:
            raise OSError(errno.EFBIG, 'archive larger than %d bytes' % MAX_UPLOAD_BYTES)
        view = memoryview(data)
        while view:
            view = view[os.write(self._fd, view):]
        self.size += len(data)
        return len(data)

    def commit(self):
        """Puts the bytes in place of the archive; raises Refusal otherwise."""
        try:
            if not zip_is_complete(self._fd, self.size):
                raise Refusal('451 Upload incomplete or not a ZIP archive; the previous archive is kept.')
            os.fsync(self._fd)
            os.close(self._fd)
            self.closed = True
            os.rename(self.temp, self.final, src_dir_fd=self._store.fd, dst_dir_fd=self._store.fd)
            os.fsync(self._store.fd)
        except OSError as err:
            self.close()
            raise Refusal('451 Cannot store the archive: %s; the previous archive is kept.'
                          % (err.strerror or err))
        except Refusal:
            self.close()
            raise

    def close(self):
        if not self.closed:
            self.closed = True
            os.close(self._fd)
        # Gone already after a rename; a repeated close is harmless.
        try:
            os.unlink(self.temp, dir_fd=self._store.fd)
        except FileNotFoundError:
            pass


class UploadChannel(DTPHandler):
    """Data connection that decides, before the final reply goes out, whether
    the received bytes replace the archive: a client told "226" finds the new
    archive on the web side at once."""

    timeout = STALL_SECONDS

    def close(self):
        upload = self.file_obj
        if (not self._closed and self.receive and isinstance(upload, PendingUpload)
                and not upload.closed and self.transfer_finished):
            peer = self.cmd_channel.remote_ip
            try:
                upload.commit()
                log.info('stored %s (%d bytes) from %s', upload.final, upload.size, peer)
            except Refusal as refusal:
                log.warning('kept the old %s: upload of %d bytes from %s refused (%s)',
                            upload.final, upload.size, peer, str(refusal)[4:])
                self._resp = (str(refusal), logging.getLogger('pyftpdlib').debug)
                self.transfer_finished = False
        # An unfinished upload is dropped when the library closes its file.
        super().close()


class BackupAuthorizer(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        ok = self.has_user(username)
        expected = self.user_table[username]['pwd'] if ok else ''
        # Compared in constant time whatever the user name.
        same = hmac.compare_digest(password.encode('utf-8'), expected.encode('utf-8'))
        if not (ok and same):
            raise AuthenticationFailed('Authentication failed.')


class BackupSession(FTPHandler):
    dtp_handler = UploadChannel
    proto_cmds = {name: spec for name, spec in proto_cmds.items() if name in ALLOWED}
    banner = 'Signetrix backup server ready.'
    timeout = IDLE_SECONDS
    max_login_attempts = 3
    auth_failed_timeout = 1
    permit_foreign_addresses = False
    permit_privileged_ports = False
    use_sendfile = False
    folder = ''      # set at start
    store = None     # set at start

    def pre_process_command(self, line, cmd, arg):
        if cmd in PASSIVE:
            return self._refuse(cmd, arg, '502 Passive mode refused: open an active data '
                                          'connection with PORT or EPRT.')
        if cmd == 'STAT' and arg:
            return self._refuse(cmd, arg, '502 STAT of a path refused: this server lists nothing.')
        if cmd in proto_cmds and cmd not in ALLOWED:
            return self._refuse(cmd, arg, '502 %s refused: this server only receives backup archives.' % cmd)
        if cmd in OWN:
            self.logline('<- %s' % line)
            if not self.authenticated:
                self.respond('530 Log in with USER and PASS first.')
                return
            if cmd in ('CWD', 'XCWD'):
                return self._change_folder(arg)
            if cmd in ('CDUP', 'XCUP'):
                return self._change_folder('/')
            return self._store(arg)
        return super().pre_process_command(line, cmd, arg)

    def _refuse(self, cmd, arg, reply):
        log.info('refused %s %r from %s', cmd, arg[:100], self.remote_ip)
        self.respond(reply)

    # The session's folder: "/" or "/F", kept in the library's own field so
    # that PWD answers it.
    def _change_folder(self, arg):
        home = '/' + self.folder
        if arg in ('', '/'):
            target = '/'
        elif arg in (home, home + '/') or (self.fs.cwd == '/' and arg in (self.folder, self.folder + '/')):
            target = home
        else:
            return self._refuse('CWD', arg, '550 No such folder: only "/" and "%s" can be entered.' % home)
        self.fs.cwd = target
        self.respond('250 "%s" is the current directory.' % target)

    def _archive_name(self, arg):
        home = '/' + self.folder
        if arg.startswith('/'):
            name = arg[len(home) + 1:] if arg.startswith(home + '/') else None
        elif self.fs.cwd == '/':
            name = arg[len(self.folder) + 1:] if arg.startswith(self.folder + '/') else None
        else:
            name = arg
        return name if name is not None and ARCHIVE_NAME.fullmatch(name) else None

    def _store(self, arg):
        name = self._archive_name(arg)
        if name is None:
            return self._refuse('STOR', arg, '553 File name refused: archives are stored only as '
                                             'digits + ".zip" in "/%s".' % self.folder)
        if self._current_type != 'i':
            return self._refuse('STOR', arg, '550 Archives are stored in binary type only: send TYPE I first.')
        if self._in_dtp_queue is not None or (self.data_channel is not None and self.data_channel.receive):
            return self._refuse('STOR', arg, '425 An upload is already in progress on this session.')
        if self.data_channel is None and self._dtp_connector is None:
            return self._refuse('STOR', arg, '425 Open an active data connection with PORT or EPRT first.')
        try:
            upload = self.store.begin(name)
        except OSError as err:
            log.error('cannot start an upload of %s: %s', name, err)
            self.respond('451 Cannot store the archive: %s.' % err.strerror)
            return
        if self.data_channel is not None:
            self.respond('125 Data connection already open. Transfer starting.')
            self.data_channel.file_obj = upload
            self.data_channel.enable_receiving('i', 'STOR')
        else:
            self.respond('150 File status okay. About to open data connection.')
            self._in_dtp_queue = (upload, 'STOR')

    def _on_dtp_connection(self):
        # The connector has handed its socket to the data channel. The library
        # keeps it and closes it with the session, which unregisters its
        # descriptor number from the loop: by then that number may be another
        # session's, whose commands would never be read again.
        self._dtp_connector = None
        super()._on_dtp_connection()

    def flush_account(self):
        # The library forgets a queued upload here without closing its file.
        if self._in_dtp_queue is not None:
            self._in_dtp_queue[0].close()
            self._in_dtp_queue = None
        super().flush_account()

    def on_login_failed(self, username, password):
        log.warning('refused login as %r from %s', username[:100], self.remote_ip)


class StopRequest:
    reason = None

    def set(self, reason):
        if self.reason is None:
            self.reason = reason


class ArgumentError(Exception):
    pass


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        raise ArgumentError(message)


def parse_arguments(argv):
    parser = Arguments(prog='signetrix_ftpd', description='Backup FTP daemon.')
    parser.add_argument('--listen', required=True, metavar='HOST:PORT')
    parser.add_argument('--user', required=True)
    parser.add_argument('--password', required=True)
    parser.add_argument('--root', required=True, metavar='DIR')
    parser.add_argument('--folder', required=True, metavar='F')
    args = parser.parse_args(argv)

    host, colon, port = args.listen.rpartition(':')
    if host.startswith('[') and host.endswith(']'):
        host = host[1:-1]
    if not colon or not host or not port.isdigit() or not port.isascii() or int(port) > 65535:
        raise ArgumentError('--listen wants HOST:PORT with a port from 0 to 65535, not %r' % args.listen)
    args.host, args.port = host, int(port)
    for option in ('user', 'password'):
        value = getattr(args, option)
        if not value or any(c in value for c in '\r\n\0'):
            raise ArgumentError('--%s must be a non-empty text without line breaks' % option)
    if not FOLDER_NAME.fullmatch(args.folder):
        raise ArgumentError('--folder must be one path segment of letters, digits, ".", "_" or "-", '
                            'not starting with "." (got %r)' % args.folder)
    if not args.root or '\0' in args.root:
        raise ArgumentError('--root must name a folder')
    args.root = os.path.abspath(args.root)
    return args


def watch_parent(stop):
    """Asks the kernel for SIGTERM when the parent dies; returns the parent
    pid to compare with later (the signal is lost if the parent died first)."""
    parent = os.getppid()
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        PR_SET_PDEATHSIG = 1
        if libc.prctl(PR_SET_PDEATHSIG, int(signal.SIGTERM), 0, 0, 0) != 0:
            log.warning('no parent-death signal: %s', os.strerror(ctypes.get_errno()))
    except (OSError, AttributeError) as err:
        log.warning('no parent-death signal: %s', err)
    if os.getppid() != parent:
        stop.set('parent gone')
    return parent


def watch_stdin(stop):
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    stop.set('standard input closed')


def address_text(host, port):
    return '[%s]:%d' % (host, port) if ':' in host else '%s:%d' % (host, port)


def serve(server, stop, parent):
    wait = LOOP_TICK_SECONDS
    while stop.reason is None:
        if os.getppid() != parent:
            stop.set('parent gone')
            break
        due = server.ioloop.loop(timeout=wait, blocking=False)
        # Never 0: the library's poller takes a zero time-out as "wait for ever".
        wait = LOOP_TICK_SECONDS if due is None else max(0.005, min(LOOP_TICK_SECONDS, due))
    log.info('stopping: %s', stop.reason)
    server.close_all()


def main(argv):
    logging.raiseExceptions = False  # a parent gone with our stderr must not matter
    logging.basicConfig(stream=sys.stderr, level=logging.INFO,
                        format='%(asctime)s signetrix_ftpd: %(message)s')
    logging.getLogger('pyftpdlib').setLevel(logging.WARNING)

    stop = StopRequest()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda n, _frame: stop.set(signal.Signals(n).name))
    parent = watch_parent(stop)

    try:
        args = parse_arguments(argv)
    except ArgumentError as err:
        sys.stderr.write('signetrix_ftpd: bad arguments: %s\n' % err)
        return 2

    try:
        store = Store(args.root, args.folder)
    except OSError as err:
        sys.stderr.write('signetrix_ftpd: cannot prepare the backup folder %s: %s\n'
                         % (os.path.join(args.root, args.folder), err.strerror or err))
        return 1

    authorizer = BackupAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm='')
    BackupSession.authorizer = authorizer
    BackupSession.folder = args.folder
    BackupSession.store = store
    FTPServer.max_cons = MAX_SESSIONS
    FTPServer.max_cons_per_ip = MAX_SESSIONS_PER_IP
    try:
        server = FTPServer((args.host, args.port), BackupSession)
    except (OSError, socket.gaierror) as err:
        sys.stderr.write('signetrix_ftpd: cannot listen on %s: %s\n'
                         % (address_text(args.host, args.port), err.strerror or err))
        return 1

    host, port = server.socket.getsockname()[:2]
    sys.stdout.write('ftp=%s\n' % address_text(host, port))
    sys.stdout.flush()
    sys.stdout = sys.stderr  # nothing else may reach the parent's reading end
    log.info('listening on %s, storing into %s', address_text(host, port), store.path)

    threading.Thread(target=watch_stdin, args=(stop,), daemon=True).start()
    serve(server, stop, parent)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
