"""The tavrel program end to end: started in a private environment with its
settings in the registry file, asked by raw sockets and by curl, stopped by
SIGTERM and SIGINT; its log is read back as EUC-KR."""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

TAVREL = os.environ.get("TAVREL", os.path.join(os.path.dirname(__file__), "../../build/bin/tavrel"))


def registry_text(values):
    lines = ["REGEDIT4", "", "[HKEY_CURRENT_USER\\SOFTWARE\\Quorval\\Tavrel]"]
    for name, value in values.items():
        if isinstance(value, int):
            lines.append('"%s"=dword:%08x' % (name, value))
        else:
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append('"%s"="%s"' % (name, escaped))
    return "\r\n".join(lines) + "\r\n\r\n"


class Tavrel:
    """One tavrel process with its own HOME, runtime and temporary dirs."""

    def __init__(self, values=None, site=None):
        self.dir = tempfile.mkdtemp(prefix="tavrel-e2e-")
        self.install = os.path.join(self.dir, "install")
        self.root = os.path.join(self.dir, "www")
        os.makedirs(self.install)
        os.makedirs(self.root)
        for name, data in (site or {}).items():
            path = os.path.join(self.root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
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
        self.proc = None
        self.port = None

    def start(self):
        self.proc = subprocess.Popen([TAVREL], env=self.env, cwd=self.dir)
        deadline = time.time() + 10
        while time.time() < deadline:
            m = re.search(rb"Port (\d+)", self.log())
            if m:
                self.port = int(m.group(1))
                return self
            if self.proc.poll() is not None:
                return self
            time.sleep(0.05)
        raise AssertionError("tavrel did not report its port")

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

    def exchange(self, request):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(request)
            chunks = []
            while True:
                data = s.recv(65536)
                if not data:
                    return b"".join(chunks)
                chunks.append(data)

    def stop(self, sig=signal.SIGTERM):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(sig)
            return self.proc.wait(timeout=20)
        return self.proc.returncode if self.proc else None

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class TavrelTest(unittest.TestCase):
    def launch(self, values=None, site=None):
        t = Tavrel(values, site)
        self.addCleanup(t.close)
        return t.start()

    def test_serves_static_files_and_stops_on_sigterm(self):
        page = "<html><body>안녕하세요</body></html>".encode("euc-kr")
        t = self.launch(site={"index.html": page, "style.css": b"p{}"})
        self.assertEqual(
            t.exchange(b"GET /index.html HTTP/1.0\r\n\r\n"),
            b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/html\r\n\r\n" + page)
        self.assertEqual(
            t.exchange(b"HEAD /style.css HTTP/1.0\r\n\r\n"),
            b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/css\r\n\r\n")
        self.assertEqual(t.stop(signal.SIGTERM), 0)
        lines = t.log_lines()
        self.assertEqual(lines[0], "Port %d에서 HTTP가 시작되었습니다." % t.port)
        self.assertRegex(lines[1], r"^접속 주소 : 127\.0\.0\.1, 소켓 : \d+$")
        self.assertEqual(lines[-1], "Tavrel 종료")
        self.assertEqual(sum(1 for l in lines if l.startswith("접속 주소")), 2)

    def test_sigint_stops_too(self):
        t = self.launch(site={"a.txt": b"a"})
        self.assertEqual(t.stop(signal.SIGINT), 0)
        self.assertEqual(t.log_lines()[-1], "Tavrel 종료")

    def test_curl_fetches_a_file(self):
        body = bytes(range(256)) * 40
        t = self.launch(site={"files/blob.bin": body})
        out = subprocess.run(
            ["curl", "-s", "-0", "-D", "-", "http://127.0.0.1:%d/files/blob.bin" % t.port],
            capture_output=True, timeout=30, check=True).stdout
        head, _, got = out.partition(b"\r\n\r\n")
        self.assertIn(b"HTTP/1.0 200 OK", head)
        self.assertIn(b"Content-Type: application/octet-stream", head)
        self.assertEqual(got, body)

    def test_error_answers(self):
        t = self.launch(site={"index.html": b"x", ".secret": b"s"})
        cases = [
            (b"GET /missing HTTP/1.0\r\n\r\n", 404, b"Not Found"),
            (b"GET /../../etc/passwd HTTP/1.0\r\n\r\n", 404, b"Not Found"),
            (b"GET /.secret HTTP/1.0\r\n\r\n", 403, b"Forbidden"),
            (b"DELETE /index.html HTTP/1.0\r\n\r\n", 501, b"Not Implemented"),
            (b"FOO / HTTP/1.0\r\n\r\n", 400, b"Bad Request"),
            (b"POST /index.html HTTP/1.0\r\nContent-Length: -4\r\n\r\n", 400, b"Bad Request"),
        ]
        for request, code, text in cases:
            self.assertEqual(t.exchange(request),
                             b"HTTP/1.0 %d %s\r\nServer: Tavrel\r\n\r\n\r\n" % (code, text), request)

    def test_port_free_mode_picks_a_port_in_range(self):
        t = self.launch(values={"PortFree": 1, "Port": 8080}, site={"index.html": b"pf"})
        self.assertTrue(10000 <= t.port <= 19999, t.port)
        self.assertTrue(t.exchange(b"GET /index.html HTTP/1.0\r\n\r\n").endswith(b"pf"))

    def test_failed_first_start_ends_with_nonzero_status(self):
        blocker = socket.socket()
        blocker.bind(("0.0.0.0", 0))
        blocker.listen(1)
        self.addCleanup(blocker.close)
        t = Tavrel(values={"Port": blocker.getsockname()[1]})
        self.addCleanup(t.close)
        t.start()
        self.assertNotEqual(t.proc.wait(timeout=10), 0)
        lines = t.log_lines()
        self.assertIn("bind 오류 : WSAEADDRINUSE: Address already in use (10048)", lines)


if __name__ == "__main__":
    unittest.main()
