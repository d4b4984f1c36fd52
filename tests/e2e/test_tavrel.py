"""The tavrel program end to end: started in a private environment with its
settings in the registry file beside the host stand-in, asked by raw sockets
and by curl, stopped by SIGTERM and SIGINT; its log is read back as EUC-KR."""

import signal
import socket
import subprocess
import unittest

from tavrel_harness import Tavrel


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
