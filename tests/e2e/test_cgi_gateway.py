"""CGI programs behind the real server: environment, standard input,
arguments, the merged head, the script map, failures answered 500, programs
running side by side, and no temporary file left behind."""

import os
import signal
import threading
import time
import unittest

from tavrel_harness import Tavrel

HEAD_500 = b"HTTP/1.0 500 Internal Server Error\r\nServer: Tavrel\r\n\r\n\r\n"

# Prints the environment block exactly as the program received it.
ENV_CGI = b"""#!/bin/sh
printf 'Content-Type: text/plain\\n\\n'
tr '\\0' '\\n' < /proc/$$/environ
"""

# Prints its arguments, then its standard input.
ARGS_STDIN_CGI = b"""#!/bin/sh
printf 'Content-Type: application/octet-stream\\n\\n'
for a in "$@"; do printf '[%s]' "$a"; done
printf '\\n'
cat
"""


def split_response(data):
    head, sep, body = data.partition(b"\r\n\r\n")
    assert sep, data
    return head, body


class CgiGatewayTest(unittest.TestCase):
    def launch(self, site=None, filter_cfg=None, values=None, programs=None):
        t = Tavrel(values=values, filter_cfg=filter_cfg)
        self.addCleanup(t.close)
        for name, data in (site or {}).items():
            t.put(name, data)
        for name, data in (programs or {}).items():
            t.put(name, data, 0o755)
        return t.start()

    def assertNoTempFiles(self, t):
        # The body file and the output file go with their request.
        self.assertTrue(
            wait_empty(t), "left behind: %r" % t.temp_files())

    def test_environment_in_order(self):
        t = self.launch(programs={"sub/env.cgi": ENV_CGI})
        request = (b"GET /sub/env.cgi?x=1&y=%41 HTTP/1.0\r\n"
                   b"Referer: http://ref/\r\nAccept: text/*\r\nAccept-Encoding: gzip\r\n"
                   b"Cookie: AUTH=abc\r\nUser-Agent: test\r\nHost: example\r\n\r\n")
        head, body = split_response(t.exchange(request))
        self.assertEqual(head, b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/plain")
        script = os.path.join(t.root, "sub", "env.cgi")
        expected = [
            "SERVER_SOFTWARE=Tavrel",
            "GATEWAY_INTERFACE=CGI/1.1",
            "SERVER_PORT=%d" % t.port,
            "REQUEST_METHOD=GET",
            "PATH_TRANSLATED=" + script,
            "SCRIPT_NAME=/sub/env.cgi",
            "SCRIPT_PATH=" + os.path.dirname(script),
            "QUERY_STRING=x=1&y=%41",
            "REMOTE_ADDR=127.0.0.1",
            "HTTP_REFERER=http://ref/",
            "HTTP_ACCEPT=text/*",
            "HTTP_ACCEPT_ENCODING=gzip",
            "HTTP_COOKIE=AUTH=abc",
            "CONTENT_LENGTH=0",
            "HTTP_CONTENT_LENGTH=0",
            "TZ=UTC",
        ] + ["%s=%s" % kv for kv in t.env.items()]
        self.assertEqual(body.decode().splitlines(), expected)
        self.assertNoTempFiles(t)

    def test_variables_absent_without_their_headers(self):
        t = self.launch(programs={"env.cgi": ENV_CGI})
        _, body = split_response(t.exchange(b"GET /env.cgi HTTP/1.0\r\n\r\n"))
        names = [line.split("=", 1)[0] for line in body.decode().splitlines()[:13]]
        self.assertEqual(names, [
            "SERVER_SOFTWARE", "GATEWAY_INTERFACE", "SERVER_PORT", "REQUEST_METHOD",
            "PATH_TRANSLATED", "SCRIPT_NAME", "SCRIPT_PATH", "REMOTE_ADDR", "CONTENT_LENGTH",
            "HTTP_CONTENT_LENGTH", "TZ", "PATH", "HOME"])

    def test_post_body_reaches_standard_input_exactly(self):
        t = self.launch(programs={"echo.cgi": ARGS_STDIN_CGI, "env.cgi": ENV_CGI})
        body = b"a=1&b=\x00\r\n--x\r\n" + bytes(range(256)) * 20
        request = (b"POST /echo.cgi HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                   b"Content-Length: %d\r\n\r\n" % len(body)) + body
        _, got = split_response(t.exchange(request))
        self.assertEqual(got, b"\n" + body)
        request = (b"POST /env.cgi HTTP/1.0\r\nContent-Type: text/x-test\r\n"
                   b"Content-Length: 3\r\n\r\nabc")
        _, env = split_response(t.exchange(request))
        lines = env.decode().splitlines()
        self.assertIn("REQUEST_METHOD=POST", lines)
        self.assertEqual(lines[8:11], ["CONTENT_TYPE=text/x-test", "CONTENT_LENGTH=3",
                                        "HTTP_CONTENT_LENGTH=3"])
        self.assertNoTempFiles(t)

    def test_get_has_no_standard_input_and_query_words_are_arguments(self):
        t = self.launch(programs={"echo.cgi": ARGS_STDIN_CGI})
        cases = [
            (b"/echo.cgi", b"\n"),
            (b"/echo.cgi?a+b", b"[a][b]\n"),
            (b"/echo.cgi?one+%41%2b+%zz++", b"[one][A+][%zz]\n"),
            (b"/echo.cgi?a=b", b"\n"),
            (b"/echo.cgi?", b"\n"),
        ]
        for target, expected in cases:
            _, got = split_response(t.exchange(b"GET " + target + b" HTTP/1.0\r\n\r\n"))
            self.assertEqual(got, expected, target)

    def test_head_merging(self):
        programs = {
            "moved.cgi": b"#!/bin/sh\nprintf 'Location: http://elsewhere/x\\n\\n'\n",
            "missing.cgi": b"#!/bin/sh\nprintf 'Status: 404 Not Found\\nContent-Type: text/plain\\n\\ngone'\n",
            "crlf.cgi": b"#!/bin/sh\nprintf 'Content-Type: text/html\\r\\nSet-Cookie: a=b\\r\\n\\r\\n<p>\\r\\n'\n",
            "last.cgi": b"#!/bin/sh\nprintf 'Location: /x\\nStatus: 201 Created\\n\\n'\n",
            "nocolon.cgi": b"#!/bin/sh\nprintf 'Content-Type: text/plain\\njunk line\\n\\nok'\n",
        }
        t = self.launch(programs=programs)
        cases = [
            ("GET", "moved.cgi",
             b"HTTP/1.0 302 Redirection\r\nServer: Tavrel\r\nLocation: http://elsewhere/x\r\n\r\n"),
            ("GET", "missing.cgi",
             b"HTTP/1.0 404 Not Found\r\nServer: Tavrel\r\nContent-Type: text/plain\r\n\r\ngone"),
            ("HEAD", "missing.cgi",
             b"HTTP/1.0 404 Not Found\r\nServer: Tavrel\r\nContent-Type: text/plain\r\n\r\n"),
            ("GET", "crlf.cgi",
             b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/html\r\nSet-Cookie: a=b\r\n\r\n<p>\r\n"),
            ("GET", "last.cgi",
             b"HTTP/1.0 201 Created\r\nServer: Tavrel\r\nLocation: /x\r\n\r\n"),
            ("GET", "nocolon.cgi",
             b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\nContent-Type: text/plain\r\n\r\nok"),
        ]
        for method, name, expected in cases:
            got = t.exchange(("%s /%s HTTP/1.0\r\n\r\n" % (method, name)).encode())
            self.assertEqual(got, expected, (method, name))

    def test_long_head_and_large_body_pass_whole(self):
        lines = "".join("X-Header-%02d: %s\\n" % (i, "v" * 60) for i in range(40))
        programs = {
            "long.cgi": ("#!/bin/sh\nprintf '%sContent-Type: text/plain\\n\\nend'\n" % lines).encode(),
            "big.cgi": b"#!/bin/sh\nprintf 'Content-Type: application/octet-stream\\n\\n'\n"
                       b"head -c 1048576 /dev/zero | tr '\\0' 'q'\n",
        }
        t = self.launch(programs=programs)
        head, body = split_response(t.exchange(b"GET /long.cgi HTTP/1.0\r\n\r\n"))
        expected = [b"HTTP/1.0 200 OK", b"Server: Tavrel"] + [
            b"X-Header-%02d: %s" % (i, b"v" * 60) for i in range(40)] + [b"Content-Type: text/plain"]
        self.assertGreater(len(head), 1023)
        self.assertEqual(head.split(b"\r\n"), expected)
        self.assertEqual(body, b"end")
        _, body = split_response(t.exchange(b"GET /big.cgi HTTP/1.0\r\n\r\n"))
        self.assertEqual(body, b"q" * 1048576)

    def test_script_map_runs_interpreters(self):
        perl = b"print \"Content-Type: text/plain\\n\\n\"; print join(',', @ARGV), \"|$0\";\n"
        cfg = (b"# interpreters\r\n.pl=/usr/bin/perl -w\r\n.sh=/bin/sh\n.none=\n"
               b"noequals\n.bad=/nonexistent/interpreter\n")
        t = self.launch(site={"x.pl": perl, "dir/Y.PL": perl,
                              "run.sh": b"printf 'Content-Type: text/plain\\n\\nsh %s' \"$1\"\n",
                              "t.bad": b"x", "t.none": b"static"},
                        filter_cfg=cfg)
        _, body = split_response(t.exchange(b"GET /x.pl?a+b HTTP/1.0\r\n\r\n"))
        self.assertEqual(body, b"a,b|" + os.path.join(t.root, "x.pl").encode())
        _, body = split_response(t.exchange(b"GET /dir/y.pl HTTP/1.0\r\n\r\n"))
        self.assertEqual(body, b"|" + os.path.join(t.root, "dir", "Y.PL").encode())
        _, body = split_response(t.exchange(b"GET /run.sh?w HTTP/1.0\r\n\r\n"))
        self.assertEqual(body, b"sh w")
        self.assertEqual(t.exchange(b"GET /t.bad HTTP/1.0\r\n\r\n"), HEAD_500)
        # ".none=" maps nothing: the file is static.
        _, body = split_response(t.exchange(b"GET /t.none HTTP/1.0\r\n\r\n"))
        self.assertEqual(body, b"static")

    def test_failures_answer_500(self):
        t = self.launch(
            site={"plain.cgi": b"#!/bin/sh\necho hi\n"},  # not executable
            programs={
                "silent.cgi": b"#!/bin/sh\nexit 0\n",
                "nohead.cgi": b"#!/bin/sh\nprintf 'Content-Type: text/plain\\nno end of head'\n",
                "badstatus.cgi": b"#!/bin/sh\nprintf 'Status: 299 Odd\\n\\nx'\n",
                "nostatus.cgi": b"#!/bin/sh\nprintf 'Status:\\n\\nx'\n",
                "noformat.cgi": b"echo no interpreter line\n",
            })
        for name in ("plain.cgi", "silent.cgi", "nohead.cgi", "badstatus.cgi", "nostatus.cgi",
                     "noformat.cgi"):
            self.assertEqual(t.exchange(("GET /%s HTTP/1.0\r\n\r\n" % name).encode()), HEAD_500, name)
        self.assertNoTempFiles(t)

    def test_methods_for_scripts(self):
        t = self.launch(programs={"echo.cgi": ARGS_STDIN_CGI})
        not_impl = b"HTTP/1.0 501 Not Implemented\r\nServer: Tavrel\r\n\r\n\r\n"
        self.assertEqual(t.exchange(b"POST /echo.cgi HTTP/1.0\r\n\r\n"), not_impl)
        self.assertEqual(t.exchange(b"PUT /echo.cgi HTTP/1.0\r\n\r\n"), not_impl)
        self.assertEqual(t.exchange(b"HEAD /echo.cgi HTTP/1.0\r\nContent-Length: 2\r\n\r\nab"), not_impl)

    def test_slow_programs_run_side_by_side(self):
        slow = b"#!/bin/sh\nsleep 1\nprintf 'Content-Type: text/plain\\n\\n%s' \"$QUERY_STRING\"\n"
        t = self.launch(programs={"slow.cgi": slow})
        results = {}

        def fetch(i):
            results[i] = t.exchange(b"GET /slow.cgi?n%d HTTP/1.0\r\n\r\n" % i)
        start = time.time()
        threads = [threading.Thread(target=fetch, args=(i,)) for i in range(6)]
        for th in threads:
            th.start()
        for th in threads:
            th.join()
        took = time.time() - start
        for i in range(6):
            self.assertTrue(results[i].endswith(b"\r\n\r\nn%d" % i), results[i])
        self.assertLess(took, 4.5)  # six one-second programs, not one after another
        self.assertNoTempFiles(t)

    def test_wait_time_limits_a_program(self):
        hang = b"#!/bin/sh\nsleep 30\n"
        t = self.launch(values={"CgiWaitTime": 500}, programs={"hang.cgi": hang})
        start = time.time()
        self.assertEqual(t.exchange(b"GET /hang.cgi HTTP/1.0\r\n\r\n"), HEAD_500)
        self.assertLess(time.time() - start, 10)
        self.assertNoTempFiles(t)

    def test_stop_with_a_busy_program_times_out_its_wait(self):
        busy = b"#!/bin/sh\nsleep 14\nprintf 'Content-Type: text/plain\\n\\nlate'\n"
        t = self.launch(programs={"busy.cgi": busy})
        got = {}
        th = threading.Thread(target=lambda: got.setdefault("r", t.exchange(
            b"GET /busy.cgi HTTP/1.0\r\n\r\n", timeout=30)))
        th.start()
        time.sleep(1)
        start = time.time()
        self.assertEqual(t.stop(signal.SIGTERM), 0)
        took = time.time() - start
        self.assertGreater(took, 9)
        self.assertLess(took, 25)
        lines = t.log_lines()
        self.assertIn("Client thread들을 정상 종료하지 못했습니다.", "\n".join(lines))
        self.assertEqual(lines[-1], "Tavrel 종료")
        th.join(timeout=30)


def wait_empty(t, timeout=5):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not t.temp_files():
            return True
        time.sleep(0.05)
    return not t.temp_files()


if __name__ == "__main__":
    unittest.main()
