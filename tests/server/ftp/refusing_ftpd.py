#!/usr/bin/python3
"""The backup FTP daemon with its first stores refused, for the retry tests.

Usage: refusing_ftpd.py DAEMON_SCRIPT REFUSALS DAEMON_ARGUMENTS...

The first REFUSALS store commands of the daemon's whole life are answered
"451" before any data connection; later ones are the daemon's own. Every
login and every store attempt is logged on standard error as
"test: login N" / "test: store N refused|accepted on session S", so that a
test can count attempts and connections.
"""
import importlib.util
import sys


def main(argv):
    script, refusals = argv[0], int(argv[1])
    spec = importlib.util.spec_from_file_location('signetrix_ftpd', script)
    daemon = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(daemon)
    counts = {'logins': 0, 'stores': 0}
    session_of = {}

    class RefusingSession(daemon.BackupSession):
        def on_login(self, username):
            counts['logins'] += 1
            session_of[id(self)] = counts['logins']
            sys.stderr.write('test: login %d\n' % counts['logins'])
            sys.stderr.flush()
            return super().on_login(username)

        def _store(self, arg):
            counts['stores'] += 1
            refused = counts['stores'] <= refusals
            sys.stderr.write('test: store %d %s on session %d\n'
                             % (counts['stores'], 'refused' if refused else 'accepted',
                                session_of.get(id(self), 0)))
            sys.stderr.flush()
            if refused:
                self.respond('451 Store refused for the test.')
                return
            return super()._store(arg)

    daemon.BackupSession = RefusingSession
    return daemon.main(argv[2:])


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
