#!/usr/bin/python3
"""A scriptable local FTP server for Tarn's tests and benchmarks.

    ftpserver.py ROOT [--log FILE] [--user U --password P] [--faults FILE]
                      [--no-mlsd] [--no-utf8] [--dos] [--quiet]
                      [--tls CERT KEY [--refuse-prot]]

Binds 127.0.0.1 on a free port and prints that port as its first line on
stdout, so the caller knows both where it listens and that it is ready.
Serves ROOT read-only to "anonymous" and to the given user.

Every command is logged to --log, one tab-separated line per event:
    <session>\tCONNECT
    <session>\tCMD\t<verb>\t<argument>\t<current folder before the command>
    <session>\tCLOSE
so tests can count sessions, simultaneous sessions, CWDs and listings.

--tls offers FTP over TLS ("AUTH TLS", RFC 4217) with that certificate and
key, without requiring it; a PASS that arrives on a control connection TLS
does not protect is then logged with the argument "****** in clear".
--refuse-prot answers "PROT P" with 536, as servers that cannot protect data
connections do. Only one plain listing connection works against libcurl
here (protected data connections are reset, a second protected control
connection fails), so the TLS tests use vsftpd for the rest.

Names are bytes, as on many old servers: a name on disk that is not UTF-8
(GBK, Windows-1251) is listed with its own bytes, and a command's path is
taken byte for byte (the log shows those bytes too). FEAT lists UTF8 and
"OPTS UTF8 ON" is accepted, unless --no-utf8 hides both.

Faults. A folder whose last path component contains one of these magic
names always misbehaves:
    __drop_on_cwd__     CWD into it closes the control connection
    __refuse_cwd__      CWD into it is answered "550"
    __drop_on_list__    listing it closes the control connection
    __silent_on_list__  listing it gets no reply at all
    __partial_list__    listing it sends part of the entries, then resets
    __stall_list__      listing it opens the data connection and sends nothing
    __refuse_list__     listing it is answered "550"
    __endless_list__    listing it streams entries without end
"STAT <path>" lists over the control connection (the reply lines in the
LIST format, as vsftpd sends them) and counts as a listing for the faults:
"stall" then sends the reply's first line only, "partial" half the lines
before a reset, "endless" lines without end.
The fault file (--faults, JSON, re-read on every command) adds rules and modes:
    {"no_mlsd": false, "no_utf8": false, "dos": false, "hidden_dots": false,
     "rules": [{"on": "CWD" | "LIST" | <verb>, "path": "/a/b",
                "action": "drop" | "refuse" | "silent" | "partial" | "stall"
                          | "endless" | "reply" | "delay" | "inject" | "reply_reset"
                          | "status" | "extra_reply" | "flood" | "slow_150"
                          | "trickle" | "stat_lines",
                "reply": "502 Nope", "seconds": 0.5, "lines": ["raw line"],
                "times": 1}]}
"LIST" matches every listing verb (LIST, MLSD, NLST, STAT with a path); "path" (optional) is
the folder the command addresses; "times" (optional) limits how often a rule
fires across all sessions. "delay" answers normally after a pause; "inject"
adds raw lines to the listing (LIST, MLSD or STAT). "status" answers STAT
<path> with the server's status text, as STAT without a path would;
"extra_reply" answers normally and then sends "reply" as well, a reply the
client never asked for. Replies without end, on the control connection:
"flood" sends "150" replies as fast as the client reads them, "slow_150" one
"150" every "seconds", "trickle" a listing that never ends with a line every
"seconds" (STAT: inside its reply; other listings: on the data connection).
"stat_lines" answers STAT <path> with "lines" as its listing, whatever the
folder holds.
For downloads ("on": "RETR", "path" the file):
"cut" sends "bytes" bytes of the file (from the REST offset) and then resets
both connections; "oversize" sends the file followed by "bytes" bytes more
than SIZE announced. "REST" and "SIZE" rules match without a path, so
{"on": "REST", "action": "reply", "reply": "502 No"} refuses resuming.
"no_mlsd" hides MLST/MLSD (LIST only); "dos" makes
LIST answer in the DOS/IIS format; "hidden_dots" lists as vsftpd does: LIST
and MLSD leave out names beginning with ".", STAT shows them with "." and
"..".
"""

import argparse
import json
import logging
import os
import posixpath
import signal
import socket
import stat
import struct
import sys
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib import handlers
from pyftpdlib.handlers import FTPHandler, proto_cmds
from pyftpdlib.servers import ThreadedFTPServer

LIST_VERBS = ("LIST", "MLSD", "NLST", "STAT")
MAGIC = {
    "__drop_on_cwd__": ("CWD", "drop"),
    "__refuse_cwd__": ("CWD", "refuse"),
    "__drop_on_list__": ("LIST", "drop"),
    "__silent_on_list__": ("LIST", "silent"),
    "__partial_list__": ("LIST", "partial"),
    "__stall_list__": ("LIST", "stall"),
    "__refuse_list__": ("LIST", "refuse"),
    "__endless_list__": ("LIST", "endless"),
}

g_lock = threading.Lock()
g_log = None
g_next_session = 0
g_fired = {}  # rule key -> times fired
g_fault_path = None
g_modes = {"no_mlsd": False, "dos": False, "hidden_dots": False}


def log_line(*fields):
    if g_log is None:
        return
    text = "\t".join(str(f).replace("\t", " ").replace("\n", " ") for f in fields)
    with g_lock:
        g_log.write(text + "\n")
        g_log.flush()


g_fault_cache = (None, {})


def read_faults():
    """The fault file as of now; parsed again only when it was replaced."""
    global g_fault_cache
    if not g_fault_path:
        return {}
    try:
        st = os.stat(g_fault_path)
        stamp = (st.st_ino, st.st_mtime_ns, st.st_size)
        if g_fault_cache[0] == stamp:
            return g_fault_cache[1]
        with open(g_fault_path, "r", encoding="utf-8") as f:
            faults = json.load(f)
        g_fault_cache = (stamp, faults)
        return faults
    except (OSError, ValueError):
        return {}


def take_rule(rules, verb, path):
    """The first rule matching verb and path that may still fire, counted."""
    for rule in rules:
        on = rule.get("on", "").upper()
        if on != verb and not (on == "LIST" and verb in LIST_VERBS):
            continue
        if "path" in rule and posixpath.normpath(rule["path"]) != path:
            continue
        key = json.dumps(rule, sort_keys=True)
        with g_lock:
            fired = g_fired.get(key, 0)
            if "times" in rule and fired >= int(rule["times"]):
                continue
            g_fired[key] = fired + 1
        return rule
    return None


def magic_rule(verb, path):
    base = posixpath.basename(path)
    for name, (on, action) in MAGIC.items():
        if name in base and (on == verb or (on == "LIST" and verb in LIST_VERBS)):
            return {"on": on, "action": action}
    return None


class TarnFS(AbstractedFS):
    """Lists symbolic links as links in MLSD (the stock code follows them),
    lists names sorted and answers LIST in the DOS/IIS format when asked to."""

    tarn_extra = ()
    tarn_verb = ""

    def listdir(self, path):
        # Sorted, as vsftpd lists: every listing verb gives the same order.
        return sorted(AbstractedFS.listdir(self, path))

    def extra_lines(self):
        for line in self.tarn_extra:
            yield (line + "\r\n").encode("utf8", "surrogateescape")

    def visible(self, listing):
        """The names a listing shows; in "hidden_dots" mode STAT adds "."
        and ".." and only STAT shows names beginning with "."."""
        if not g_modes["hidden_dots"]:
            return listing
        if self.tarn_verb == "STAT":
            return [".", ".."] + list(listing)
        return [name for name in listing if not name.startswith(".")]

    def format_mlsx(self, basedir, listing, perms, facts, ignore_err=True):
        yield from self.extra_lines()
        listing = self.visible(listing)
        plain = []
        for name in listing:
            full = os.path.join(basedir, name)
            try:
                st = os.lstat(full)
            except OSError:
                continue
            if stat.S_ISLNK(st.st_mode):
                target = os.readlink(full)
                line = "type=OS.unix=slink:%s;size=%d; %s\r\n" % (target, st.st_size, name)
                yield line.encode("utf8", "surrogateescape")
            else:
                plain.append(name)
        yield from AbstractedFS.format_mlsx(self, basedir, plain, perms, facts, ignore_err)

    def format_list(self, basedir, listing, ignore_err=True):
        yield from self.extra_lines()
        listing = self.visible(listing)
        if not g_modes["dos"]:
            yield from AbstractedFS.format_list(self, basedir, listing, ignore_err)
            return
        for name in listing:
            try:
                st = os.lstat(os.path.join(basedir, name))
            except OSError:
                continue
            stamp = time.strftime("%m-%d-%y  %I:%M%p", time.localtime(st.st_mtime))
            if stat.S_ISDIR(st.st_mode):
                line = "%s       <DIR>          %s\r\n" % (stamp, name)
            else:
                line = "%s %20d %s\r\n" % (stamp, st.st_size, name)
            yield line.encode("utf8", "surrogateescape")


class PartialProducer:
    """Hands out the first half of a listing, then resets both connections."""

    def __init__(self, handler, lines):
        self.handler = handler
        self.lines = lines
        self.sent = False

    def more(self):
        if not self.sent:
            self.sent = True
            half = self.lines[: max(1, len(self.lines) // 2)]
            return b"".join(half)
        self.handler.reset_connections()
        return b""


class CutProducer:
    """Hands out part of a file, then hangs up: the data connection closes
    normally (what was sent arrives), the control connection is reset."""

    def __init__(self, handler, data):
        self.handler = handler
        self.data = data

    def more(self):
        if self.data:
            data, self.data = self.data, b""
            return data
        handler = self.handler
        try:
            handler.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        if handler.data_channel is not None:
            handler.data_channel.close()
        handler.close()
        return b""


class EndlessProducer:
    """A listing that never ends: a new file entry per line, for as long as
    the client keeps reading."""

    def __init__(self, mlsd):
        self.mlsd = mlsd
        self.count = 0

    def more(self):
        lines = []
        for _ in range(1000):
            self.count += 1
            name = "f%09d" % self.count
            if self.mlsd:
                lines.append("type=file;size=1; %s\r\n" % name)
            else:
                lines.append("-rw-r--r--   1 owner group 1 Jan 01  2020 %s\r\n" % name)
        return "".join(lines).encode("ascii")


class FloodProducer:
    """Preliminary replies without end: as fast as they are read, or one
    every `pause` seconds."""

    def __init__(self, pause):
        self.pause = pause

    def more(self):
        if self.pause:
            time.sleep(self.pause)
            return b"150 Still working.\r\n"
        return b"150 Still working.\r\n" * 1000


class TrickleProducer:
    """A listing line every `pause` seconds, without end."""

    def __init__(self, pause, first=b""):
        self.pause = pause
        self.first = first
        self.count = 0

    def more(self):
        if self.first:
            first, self.first = self.first, b""
            return first
        time.sleep(self.pause)
        self.count += 1
        return ("-rw-r--r--   1 owner group 1 Jan 01  2020 t%09d\r\n" % self.count).encode()


g_live = set()  # handlers whose CLOSE is not logged yet


def peer_has_closed(handler):
    """True when the client closed its end of the control connection (or
    the handler has already closed its socket and will log the close)."""
    sock = getattr(handler, "socket", None)
    try:
        if sock is None or sock.fileno() < 0:
            return True
        return sock.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b""
    except (BlockingIOError, InterruptedError):
        return False
    except OSError:
        return True


class TarnHandler(FTPHandler):
    banner = "Tarn test server ready."
    # Bytes that are not UTF-8 pass through paths, listings and replies
    # unchanged instead of turning into "?".
    unicode_errors = "surrogateescape"

    def push(self, s):
        handlers.asynchat.async_chat.push(self, s.encode("utf8", "surrogateescape"))

    def on_connect(self):
        global g_next_session
        # A client that has already hung up counts as gone, even if its
        # handler thread has not noticed yet: log those closes first, so the
        # log's simultaneous-session count is what the clients really held.
        for handler in list(g_live):
            if handler is not self and peer_has_closed(handler):
                handler.log_close()
        with g_lock:
            g_next_session += 1
            self.tarn_session = g_next_session
            g_live.add(self)
        log_line(self.tarn_session, "CONNECT")

    def log_close(self):
        with g_lock:
            if getattr(self, "tarn_closed", False) or not hasattr(self, "tarn_session"):
                return
            self.tarn_closed = True
            g_live.discard(self)
        log_line(self.tarn_session, "CLOSE")

    def on_disconnect(self):
        self.log_close()

    def tarn_protected(self):
        """Whether TLS protects the control connection (plain servers: always
        "yes", so their log reads as it always did)."""
        return not ARGS.tls or getattr(self, "_ssl_established", False)

    def target_path(self, verb, arg):
        try:
            if verb in ("CWD", "XCWD"):
                return self.fs.ftpnorm(arg or "/")
            if verb == "STAT" and not arg:
                return None  # the server's status, not a listing
            if verb in ("RETR", "SIZE"):
                return self.fs.ftpnorm(arg)
            if verb == "REST":
                return self.fs.cwd
            if verb in LIST_VERBS:
                if not arg or arg.startswith("-"):
                    return self.fs.cwd
                return self.fs.ftpnorm(arg)
        except Exception:
            pass
        return None

    def pre_process_command(self, line, cmd, arg):
        # Pipelined commands still buffered when a fault hung up died with
        # the connection: they are neither run nor logged.
        if getattr(self, "_closed", False):
            return
        shown = arg
        if cmd == "PASS":
            shown = "******" if self.tarn_protected() else "****** in clear"
        log_line(self.tarn_session, "CMD", cmd, shown, self.fs.cwd if self.fs else "")
        faults = read_faults()
        g_modes["dos"] = bool(faults.get("dos", ARGS.dos))
        g_modes["hidden_dots"] = bool(faults.get("hidden_dots", False))
        no_mlsd = bool(faults.get("no_mlsd", ARGS.no_mlsd))
        if cmd in ("MLSD", "MLST") and no_mlsd:
            self.respond('500 Command "%s" not understood.' % cmd)
            return
        verb = "CWD" if cmd == "XCWD" else cmd
        path = self.target_path(verb, arg) if self.authenticated else None
        if self.fs is not None and verb in LIST_VERBS:
            self.fs.tarn_extra = ()
            self.fs.tarn_verb = verb
        if path is not None:
            rule = take_rule(faults.get("rules", []), verb, path) or magic_rule(verb, path)
            if rule is not None and self.apply_fault(rule, verb, path, line, cmd, arg):
                return
        FTPHandler.pre_process_command(self, line, cmd, arg)

    def ftp_FEAT(self, line):
        faults = read_faults()
        utf8 = "" if faults.get("no_utf8", ARGS.no_utf8) else " UTF8\r\n"
        if faults.get("no_mlsd", ARGS.no_mlsd):
            self.push("211-Features supported:\r\n EPSV\r\n SIZE\r\n" + utf8)
            self.respond("211 End FEAT.")
            return
        sent = []
        self.push = sent.append
        try:
            FTPHandler.ftp_FEAT(self, line)
        finally:
            del self.push
        self.push("".join(sent).replace(" UTF8\r\n", utf8))

    def ftp_OPTS(self, line):
        if line.upper() == "UTF8 ON" and not read_faults().get("no_utf8", ARGS.no_utf8):
            self.respond("200 Always in UTF8 mode.")
            return
        FTPHandler.ftp_OPTS(self, line)

    def apply_fault(self, rule, verb, path, line, cmd, arg):
        """Acts out one fault; False lets the command run normally."""
        action = rule.get("action", "")
        log_line(self.tarn_session, "FAULT", action, path)
        if action == "drop":
            self.close()
        elif action == "refuse":
            self.respond("550 Refused by test fault.")
        elif action == "reply_reset":
            # The reply goes out, then the line is reset: the client's next
            # command meets a dead connection it believes alive.
            try:
                self.socket.send((rule.get("reply", "250 OK.") + "\r\n").encode())
            except OSError:
                pass
            self.reset_connections()
        elif action == "reply":
            self.respond(rule.get("reply", "550 Refused by test fault."))
        elif action == "silent":
            pass
        elif action == "delay":
            time.sleep(float(rule.get("seconds", 0.5)))
            return False
        elif action == "inject":
            # Lines handed to the listing that this command starts.
            self.fs.tarn_extra = tuple(rule.get("lines", []))
            return False
        elif action == "stall" and verb == "STAT":
            self.push("213-Status follows:\r\n")
        elif action == "stall":
            # The data connection opens (passive) but nothing is ever sent on it.
            self.respond("150 File status okay. About to open data connection.")
        elif action == "status":
            FTPHandler.ftp_STAT(self, "")
        elif action == "extra_reply":
            FTPHandler.pre_process_command(self, line, cmd, arg)
            self.respond(rule.get("reply", "250 Surprise."))
        elif action == "partial":
            fs_path = self.fs.ftp2fs(path)
            try:
                names = sorted(self.fs.listdir(fs_path))
            except OSError:
                names = []
            if verb == "MLSD":
                perms = self.authorizer.get_perms(self.username)
                lines = list(self.fs.format_mlsx(fs_path, names, perms, self._current_facts))
            else:
                lines = list(self.fs.format_list(fs_path, names))
            if verb == "STAT":
                self.push("213-Status follows:\r\n")
                self.push_with_producer(PartialProducer(self, lines))
            else:
                self.push_dtp_data(PartialProducer(self, lines), isproducer=True, cmd=verb)
        elif action == "stat_lines" and verb == "STAT":
            self.push("213-Status follows:\r\n")
            for raw in rule.get("lines", []):
                self.push(raw + "\r\n")
            self.respond("213 End of status.")
        elif action == "flood":
            self.push_with_producer(FloodProducer(0))
        elif action == "slow_150":
            self.push_with_producer(FloodProducer(float(rule.get("seconds", 0.05))))
        elif action == "trickle" and verb == "STAT":
            self.push_with_producer(
                TrickleProducer(float(rule.get("seconds", 0.5)), b"213-Status follows:\r\n"))
        elif action == "trickle":
            self.push_dtp_data(TrickleProducer(float(rule.get("seconds", 0.5))), isproducer=True,
                               cmd=verb)
        elif action in ("cut", "oversize") and verb == "RETR":
            offset = self._restart_position
            self._restart_position = 0
            try:
                with open(self.fs.ftp2fs(path), "rb") as f:
                    f.seek(offset)
                    data = f.read()
            except OSError:
                self.respond("550 No such file.")
                return True
            count = int(rule.get("bytes", 0))
            if action == "oversize":
                self.push_dtp_data(data + b"\0" * count, isproducer=False, cmd=verb)
            else:
                self.push_dtp_data(CutProducer(self, data[:count]), isproducer=True, cmd=verb)
        elif action == "endless" and verb == "STAT":
            self.push("213-Status follows:\r\n")
            self.push_with_producer(EndlessProducer(False))
        elif action == "endless":
            self.push_dtp_data(EndlessProducer(verb == "MLSD"), isproducer=True, cmd=verb)
        else:
            return False
        return True

    def reset_connections(self):
        """Closes data and control connections with RST instead of FIN."""
        linger = struct.pack("ii", 1, 0)
        for chan in (self.data_channel, self):
            try:
                if chan is not None and chan.socket is not None:
                    chan.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
            except OSError:
                pass
        if self.data_channel is not None:
            self.data_channel.close()
        self.close()


def tls_handler():
    """TarnHandler with TLS offered (needs PyOpenSSL, python3-openssl)."""
    from pyftpdlib.handlers import TLS_FTPHandler

    class TarnTlsHandler(TarnHandler, TLS_FTPHandler):
        certfile = ARGS.tls[0]
        keyfile = ARGS.tls[1]

        def ftp_PROT(self, line):
            if ARGS.refuse_prot and line.upper() == "P":
                self.respond("536 PROT P not supported by this test server.")
                return
            TLS_FTPHandler.ftp_PROT(self, line)

    return TarnTlsHandler


def main():
    global ARGS, g_log, g_fault_path
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--log")
    parser.add_argument("--user", default="user")
    parser.add_argument("--password", default="pass")
    parser.add_argument("--faults")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--no-utf8", action="store_true")
    parser.add_argument("--dos", action="store_true")
    parser.add_argument("--quiet", action="store_true")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--refuse-prot", action="store_true")
    ARGS = parser.parse_args()

    logging.basicConfig(level=logging.CRITICAL if ARGS.quiet else logging.ERROR)
    if ARGS.log:
        g_log = open(ARGS.log, "a", encoding="utf-8", errors="surrogateescape")
    g_fault_path = ARGS.faults

    authorizer = DummyAuthorizer()
    root = os.path.abspath(ARGS.root)
    authorizer.add_user(ARGS.user, ARGS.password, root, perm="elr")
    authorizer.add_anonymous(root, perm="elr")

    handler = tls_handler() if ARGS.tls else TarnHandler
    handler.authorizer = authorizer
    handler.abstracted_fs = TarnFS
    handler.passive_ports = None
    handler.timeout = 600
    handler.auth_failed_timeout = 0
    handler.proto_cmds = dict(handler.proto_cmds)

    server = ThreadedFTPServer(("127.0.0.1", 0), handler)
    server.max_cons = 1000
    server.max_cons_per_ip = 0

    def stop(signum, frame):
        if g_log is not None:
            g_log.flush()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    port = server.socket.getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    server.serve_forever(handle_exit=False)


ARGS = None

if __name__ == "__main__":
    main()
