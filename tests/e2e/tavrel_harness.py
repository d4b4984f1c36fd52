"""Running tavrel end to end: a private environment (HOME with the registry
file, runtime and temporary directories), a site under its root directory,
the host program's stand-in velmoria-host beside it, and raw-socket requests.
The programs come from the TAVREL and VELMORIA_HOST environment variables
(default: build/bin)."""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

BIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build/bin")
TAVREL = os.environ.get("TAVREL", os.path.join(BIN, "tavrel"))
VELMORIA_HOST = os.environ.get("VELMORIA_HOST", os.path.join(BIN, "velmoria-host"))


def registry_text(values):
    lines = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]"]
    for name, value in values.items():
        if isinstance(value, int):
            lines.append('"%s"=dword:%08x' % (name, value))
        else:
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append('"%s"="%s"' % (name, escaped))
    return "\r\n".join(lines) + "\r\n\r\n"


def wait_for(predicate, timeout, step=0.02):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


class Host:
    """velmoria-host in the environment `env`; collects the messages it prints."""

    def __init__(self, env, args=()):
        self.env = env
        self.args = list(args)
        self.proc = None
        self.messages = []
        self.lock = threading.Lock()

    def window_path(self):
        return os.path.join(self.env["XDG_RUNTIME_DIR"], "winstation", "windows", "velmoria")

    def start(self):
        self.proc = subprocess.Popen([VELMORIA_HOST] + self.args, env=self.env,
                                     stdout=subprocess.PIPE)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        if not wait_for(lambda: os.path.exists(self.window_path()), 10):
            raise AssertionError("velmoria-host made no window")
        return self

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.messages.append(tuple(int(x) for x in line.split()))

    def received(self):
        with self.lock:
            return list(self.messages)

    def wait_message(self, message, timeout=10):
        return wait_for(lambda: message in self.received(), timeout)

    def stop(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=10)
        self.reader.join(timeout=10)
        self.proc.stdout.close()


class Tavrel:
    """One tavrel process with its own HOME, runtime and temporary dirs and,
    unless host_args is None, a velmoria-host beside it."""

    def __init__(self, values=None, site=None, host_args=(), filter_cfg=None):
        self.dir = tempfile.mkdtemp(prefix="tavrel-e2e-")
        self.install = os.path.join(self.dir, "install")
        self.root = os.path.join(self.dir, "www")
        os.makedirs(self.install)
        os.makedirs(self.root)
        for name, data in (site or {}).items():
            self.put(name, data)
        if filter_cfg is not None:
            with open(os.path.join(self.install, "Filter.cfg"), "wb") as f:
                f.write(filter_cfg)
        settings = {"InstallDir": self.install, "RootDir": self.root, "Port": 0}
        settings.update(values or {})
        reg_dir = os.path.join(self.dir, "home", ".config", "registry")
        os.makedirs(reg_dir)
        with open(os.path.join(reg_dir, "HKEY_CURRENT_USER.reg"), "w", encoding="latin-1") as f:
            f.write(registry_text(settings))
        for sub in ("run", "tmp"):
            os.makedirs(os.path.join(self.dir, sub))
        self.env = {
            "PATH": "/usr/bin:/bin",
            "HOME": os.path.join(self.dir, "home"),
            "XDG_RUNTIME_DIR": os.path.join(self.dir, "run"),
            "TMPDIR": os.path.join(self.dir, "tmp"),
            "TZ": "UTC",
        }
        self.host = Host(self.env, host_args) if host_args is not None else None
        self.proc = None
        self.port = None

    def put(self, name, data, mode=None):
        """Writes a file under the root (mode e.g. 0o755 for a program)."""
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def install_program(self, source, name):
        """Copies a built program under the root, executable."""
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(source, path)
        os.chmod(path, 0o755)
        return path

    def start(self, wait_port=True):
        if self.host and self.host.proc is None:
            self.host.start()
        self.proc = subprocess.Popen([TAVREL], env=self.env, cwd=self.dir)
        if wait_port:
            self.wait_port(10)
        return self

    def wait_port(self, timeout):
        def found():
            m = re.search(rb"Port (\d+)", self.log())
            if m:
                self.port = int(m.group(1))
            return m is not None or self.proc.poll() is not None
        if not wait_for(found, timeout, 0.05):
            raise AssertionError("tavrel did not report its port")
        return self.port

    def log(self):
        try:
            with open(os.path.join(self.install, "Tavrel.log"), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def log_lines(self):
        """The log's messages as text, without the date and time prefix."""
        raw = self.log()
        assert raw.endswith(b"\r\n") or raw == b""
        out = []
        for line in raw.split(b"\r\n")[:-1]:
            assert re.match(rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d ", line), line
            out.append(line[18:].decode("euc-kr"))
        return out

    def exchange(self, request, timeout=30):
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as s:
            s.sendall(request)
            chunks = []
            while True:
                data = s.recv(65536)
                if not data:
                    return b"".join(chunks)
                chunks.append(data)

    def temp_files(self):
        return sorted(os.listdir(self.env["TMPDIR"]))

    def stop(self, sig=signal.SIGTERM):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)
            return self.proc.wait(timeout=30)
        return self.proc.returncode if self.proc else None

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.host:
            self.host.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
