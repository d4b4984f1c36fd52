"""tavrel beside the host program's stand-in: the start sequence (no host,
a host that becomes ready late, a host without RPC), the messages posted to
the host window, and redirects of directories to their default document by
the host's public name."""

import os
import subprocess
import time
import unittest

from tavrel_harness import TAVREL, Tavrel

NOT_FOUND = b"HTTP/1.0 404 Not Found\r\nServer: Tavrel\r\n\r\n\r\n"


def redirect(location):
    return b"HTTP/1.0 302 Redirection\r\nServer: Tavrel\r\nLocation: " + location + b"\r\n\r\n"


class StartSequenceTest(unittest.TestCase):
    def make(self, **kw):
        t = Tavrel(**kw)
        self.addCleanup(t.close)
        return t

    def test_no_host_window_ends_at_once(self):
        t = self.make(host_args=None)
        t.start(wait_port=False)
        self.assertEqual(t.proc.wait(timeout=10), 1)
        self.assertEqual(t.log_lines(), ["Tavrel 종료"])

    def test_late_host_starts_the_server_within_a_second(self):
        t = self.make(host_args=["--ready-after", "3"])
        t.host.start()
        host_started = time.time()
        t.start(wait_port=False)
        t.wait_port(15)
        started = time.time() - host_started
        self.assertIsNotNone(t.port)
        self.assertGreaterEqual(started, 2.9)
        self.assertLess(started, 5.0)
        self.assertTrue(t.host.wait_message((1035, -1, 1)))
        self.assertEqual(t.host.received(), [(1035, 0, 0), (1035, -1, 1)])
        self.assertEqual(t.stop(), 0)
        self.assertTrue(t.host.wait_message((1035, -1, 0)))
        self.assertEqual(t.host.received(), [(1035, 0, 0), (1035, -1, 1), (1035, -1, 0)])

    def test_port_free_mode_tells_the_host_the_port(self):
        t = self.make(values={"PortFree": 1})
        t.start()
        self.assertTrue(10000 <= t.port <= 19999)
        self.assertTrue(t.host.wait_message((1035, -1, 1)))
        self.assertEqual(t.host.received(), [(1035, t.port, 0), (1035, -1, 1)])

    def test_host_without_rpc_is_waited_for_and_its_end_ends_tavrel(self):
        t = self.make(host_args=["--no-rpc"])
        t.start(wait_port=False)
        time.sleep(2.5)
        self.assertIsNone(t.proc.poll())
        self.assertEqual(t.log(), b"")
        t.host.stop()
        self.assertEqual(t.proc.wait(timeout=5), 1)
        self.assertEqual(t.log_lines(), ["Tavrel 종료"])

    def test_second_instance_ends_at_once(self):
        t = self.make()
        t.start()
        second = subprocess.run([TAVREL], env=t.env, cwd=t.dir, timeout=10)
        self.assertEqual(second.returncode, 0)
        self.assertTrue(t.exchange(b"GET / HTTP/1.0\r\n\r\n").startswith(b"HTTP/1.0 "))


class RedirectTest(unittest.TestCase):
    def launch(self, values=None, site=None, dirs=()):
        t = Tavrel(values=values, site=site,
                   host_args=["--host", "www", "--domain", "portal.example"])
        self.addCleanup(t.close)
        for d in dirs:
            os.makedirs(os.path.join(t.root, d), exist_ok=True)
        return t.start()

    def test_root_directory_redirects_to_its_default_document(self):
        t = self.launch(site={"index.html": b"home"}, dirs=["sub"])
        expected = redirect(b"http://www.portal.example:%d/index.html" % t.port)
        for target in (b"/", b"/.", b"/sub/.."):
            self.assertEqual(t.exchange(b"GET " + target + b" HTTP/1.0\r\nHost: other\r\n\r\n"),
                             expected, target)

    def test_list_order_separators_and_directories_skipped(self):
        t = self.launch(values={"DefaultHTML": "index.htm, index.html;;default.htm"},
                        site={"sub/index.html": b"s", "d2/default.htm": b"d",
                              "d3/index.htm/inner.txt": b"a directory named index.htm"})
        cases = [
            (b"/sub", b"/sub/index.html"),
            (b"/sub/", b"/sub/index.html"),
            (b"/d2", b"/d2/default.htm"),
        ]
        for target, path in cases:
            self.assertEqual(t.exchange(b"GET " + target + b" HTTP/1.0\r\n\r\n"),
                             redirect(b"http://www.portal.example:%d" % t.port + path), target)
        # d3 holds only a directory called index.htm: no default document.
        self.assertEqual(t.exchange(b"GET /d3 HTTP/1.0\r\n\r\n"), NOT_FOUND)

    def test_directory_without_default_document_is_404(self):
        t = self.launch(site={"a/page.txt": b"x"}, dirs=["empty"])
        self.assertEqual(t.exchange(b"GET /a HTTP/1.0\r\n\r\n"), NOT_FOUND)
        self.assertEqual(t.exchange(b"GET /empty/ HTTP/1.0\r\n\r\n"), NOT_FOUND)

    def test_port_free_redirect_names_the_prefix_and_port(self):
        t = self.launch(values={"PortFree": 1}, site={"index.html": b"home"})
        self.assertEqual(t.exchange(b"GET / HTTP/1.0\r\n\r\n"),
                         redirect(b"http://portfree-www.portal.example:%d/index.html" % t.port))

    def test_address_path_is_percent_encoded(self):
        t = self.launch(site={"my docs/index.html": b"x"})
        self.assertEqual(t.exchange(b"GET /my%20docs HTTP/1.0\r\n\r\n"),
                         redirect(b"http://www.portal.example:%d/my%%20docs/index.html" % t.port))


if __name__ == "__main__":
    unittest.main()
