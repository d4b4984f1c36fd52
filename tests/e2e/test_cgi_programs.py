"""The CGI programs end to end behind the real server: tree-frameset.cgi byte
for byte, and cgi-echo.cgi showing what the CGI request library decodes from
URL-encoded GET and POST forms, multipart uploads, cookies (an AUTH value
made by auth-token among them) and malformed bodies, which get the escaped
error page. The programs are copied under the server's root as an
administrator would install them."""

import os
import re
import subprocess
import unittest

from tavrel_harness import Tavrel

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.environ.get("PORTAL_BIN", os.path.join(HERE, "../../build/bin"))
CGI_ECHO = os.environ.get("CGI_ECHO", os.path.join(BIN, "cgi-echo.cgi"))
TREE_FRAMESET = os.environ.get("TREE_FRAMESET", os.path.join(BIN, "tree-frameset.cgi"))
AUTH_TOKEN = os.environ.get("AUTH_TOKEN", os.path.join(BIN, "auth-token"))

HEAD_OK = b"HTTP/1.0 200 OK\r\nServer: Tavrel\r\n"

FRAMESET_PAGE = (
    b"<html>\r\n"
    b"<head>\r\n"
    b"<FRAMESET cols='30%,*' BORDER=0 FRAMEBORDER=1 FRAMESPACING=1>\r\n"
    b"<FRAME src='folders.cgi'   name='FRM_LEFT' >\r\n"
    b"<FRAME src='empty.html' name='FRM_RIGHT'>\r\n"
    b"</FRAMESET>\r\n"
    b"</html>\r\n")

BOUNDARY = b"----formdata7MA4YWxkTrZu0gW"


def unescape(text):
    """The bytes that cgi-echo shows as printable ASCII with \\xHH and \\\\."""
    out = bytearray()
    i = 0
    while i < len(text):
        if text[i:i + 2] == b"\\\\":
            out += b"\\"
            i += 2
        elif text[i:i + 2] == b"\\x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(text[i])
            i += 1
    return bytes(out)


class Echo:
    """What cgi-echo answered: its environment lines, form and cookie entries."""

    def __init__(self, body):
        assert body.endswith(b"\r\n"), body
        self.env = {}
        self.form = []
        self.cookies = []
        for line in body.split(b"\r\n")[:-1]:
            kind, rest = line.split(b"\t", 1)
            if kind == b"env":
                name, value = rest.split(b"\t", 1)
                self.env[name.decode()] = unescape(value)
            elif kind in (b"form", b"cookie"):
                name, length, value = rest.split(b"\t", 2)
                value = unescape(value)
                assert int(length) == len(value), line
                (self.form if kind == b"form" else self.cookies).append((unescape(name), value))
            else:
                assert kind == b"time" and re.match(rb"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$", rest), line


def part(name, value, filename=None, content_type=None):
    head = b'--' + BOUNDARY + b'\r\nContent-Disposition: form-data; name="' + name + b'"'
    if filename is not None:
        head += b'; filename="' + filename + b'"'
    head += b"\r\n"
    if content_type:
        head += b"Content-Type: " + content_type + b"\r\n"
    return head + b"\r\n" + value + b"\r\n"


def end():
    return b"--" + BOUNDARY + b"--\r\n"


def post(path, content_type, body, extra=b""):
    return (b"POST " + path + b" HTTP/1.0\r\nContent-Type: " + content_type +
            b"\r\nContent-Length: " + str(len(body)).encode() + b"\r\n" + extra + b"\r\n" + body)


def error_page(title, alert):
    return (HEAD_OK + b"Content-Type: text/html\r\n\r\n<html>\r\n<head>\r\n<title>Error: " + title +
            b"</title>\r\n<script language='JavaScript'>\r\n  alert(\"" + alert +
            b"\");\r\n  history.back();\r\n</script>\r\n</head>\r\n</html>\r\n")


# A file with what a multipart parser is most likely to trip on.
AWKWARD_FILE = (b"line one\r\nline two\r\n\r\n-----\r\n--" + bytes([0, 0, 1, 255]) +
                b"--" + BOUNDARY + b"\r\n" +              # the boundary not after CR LF
                b"\r\n--" + BOUNDARY + b"x\r\n" +         # longer than the boundary
                b"\r\n--" + BOUNDARY + b"-\r\n" +         # one dash short of the end
                bytes(range(256)) + b"tail-\r\n-")


class CgiProgramsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for program in (CGI_ECHO, TREE_FRAMESET, AUTH_TOKEN):
            if not os.access(program, os.X_OK):
                raise AssertionError("not built: " + program)
        cls.server = Tavrel()
        for program, target in ((CGI_ECHO, "tools/echo.cgi"), (TREE_FRAMESET, "tree/tree-frameset.cgi")):
            cls.server.install_program(program, target)
        cls.server.start()
        if cls.server.port is None:
            cls.server.close()
            raise AssertionError("tavrel did not start: %r" % cls.server.log())

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.server.close()

    def ask(self, request):
        return self.server.exchange(request)

    def echo(self, request):
        response = self.ask(request)
        head = HEAD_OK + b"Content-Type: text/plain\r\n\r\n"
        self.assertTrue(response.startswith(head), response[:300])
        return Echo(response[len(head):])

    # ---- tree-frameset.cgi --------------------------------------------------

    def test_frameset_bytes_are_the_same_for_every_request(self):
        whole = HEAD_OK + b"Content-Type: text/html\r\n\r\n" + FRAMESET_PAGE
        requests = [
            b"GET /tree/tree-frameset.cgi HTTP/1.0\r\n\r\n",
            b"GET /tree/tree-frameset.cgi?x=1&y HTTP/1.0\r\nCookie: AUTH=abc\r\n\r\n",
            post(b"/tree/tree-frameset.cgi", b"application/x-www-form-urlencoded", b"a=1&b=2"),
        ]
        for request in requests:
            self.assertEqual(self.ask(request), whole, request)
        self.assertEqual(self.ask(b"HEAD /tree/tree-frameset.cgi HTTP/1.0\r\n\r\n"),
                         HEAD_OK + b"Content-Type: text/html\r\n\r\n")

    def test_frameset_through_curl(self):
        out = subprocess.run(
            ["curl", "-s", "-0", "http://127.0.0.1:%d/tree/tree-frameset.cgi" % self.server.port],
            capture_output=True, timeout=30, check=True).stdout
        self.assertEqual(out, FRAMESET_PAGE)

    # ---- URL-encoded forms ----------------------------------------------------

    def test_get_form_and_environment(self):
        e = self.echo(b"GET /tools/echo.cgi?a=1&b=hello+world&c=%41&x=1&x=2&k=%C7%D1&e= HTTP/1.0\r\n"
                      b"Referer: http://example/\r\nAccept: text/*\r\n\r\n")
        self.assertEqual(e.form, [(b"a", b"1"), (b"b", b"hello world"), (b"c", b"A"), (b"x", b"1"),
                                  (b"x", b"2"), (b"k", b"\xc7\xd1"), (b"e", b"")])
        self.assertEqual(e.env["QUERY_STRING"], b"a=1&b=hello+world&c=%41&x=1&x=2&k=%C7%D1&e=")
        self.assertEqual(e.env["REQUEST_METHOD"], b"GET")
        self.assertEqual(e.env["REMOTE_ADDR"], b"127.0.0.1")
        self.assertEqual(e.env["REMOTE_HOST"], b"127.0.0.1")
        self.assertEqual(e.env["CONTENT_LENGTH"], b"0")
        self.assertEqual(e.env["SERVER_SOFTWARE"], b"Tavrel")
        self.assertEqual(e.env["GATEWAY_INTERFACE"], b"CGI/1.1")
        self.assertEqual(e.env["SERVER_PORT"], str(self.server.port).encode())
        self.assertEqual(e.env["HTTP_REFERER"], b"http://example/")
        self.assertEqual(e.env["HTTP_ACCEPT"], b"text/*")
        self.assertNotIn("CONTENT_TYPE", e.env)
        self.assertEqual(e.cookies, [])

    def test_post_form_comes_after_the_query_string(self):
        body = b"a=body&name=%B1%E8+%C3%B6%BC%F6&raw=%00%0D%0A&pct=100%"
        e = self.echo(post(b"/tools/echo.cgi?a=query&q=1", b"application/x-www-form-urlencoded", body))
        self.assertEqual(e.form, [(b"a", b"query"), (b"q", b"1"), (b"a", b"body"),
                                  (b"name", b"\xb1\xe8 \xc3\xb6\xbc\xf6"), (b"raw", b"\x00\r\n"),
                                  (b"pct", b"100%")])
        self.assertEqual(e.env["CONTENT_LENGTH"], str(len(body)).encode())
        self.assertEqual(e.env["CONTENT_TYPE"], b"application/x-www-form-urlencoded")

    def test_post_through_curl(self):
        out = subprocess.run(
            ["curl", "-s", "-0", "--data-binary", "title=%C7%D1&use=1",
             "http://127.0.0.1:%d/tools/echo.cgi" % self.server.port],
            capture_output=True, timeout=30, check=True).stdout
        self.assertEqual(Echo(out).form, [(b"title", b"\xc7\xd1"), (b"use", b"1")])

    # ---- multipart --------------------------------------------------------------

    def test_multipart_upload_with_a_windows_path(self):
        body = (part(b"title", b"hello") +
                part(b"upload", AWKWARD_FILE, b"C:\\Documents and Settings\\kim\\report.bin",
                     b"application/octet-stream") +
                part(b"empty", b"", b"") +
                part(b"note", b"a+b%41") + end())
        e = self.echo(post(b"/tools/echo.cgi?mode=up", b"multipart/form-data; boundary=" + BOUNDARY, body))
        self.assertEqual(e.form, [
            (b"mode", b"up"),
            (b"title", b"hello"),
            (b"upload", AWKWARD_FILE),
            (b"upload.length", str(len(AWKWARD_FILE)).encode()),
            (b"upload.filename", b"report.bin"),
            (b"empty", b""),
            (b"note", b"a+b%41"),
        ])

    def test_multipart_upload_through_curl(self):
        data = os.path.join(self.server.dir, "upload.bin")
        content = AWKWARD_FILE * 300  # larger than the parser's first buffer
        with open(data, "wb") as f:
            f.write(content)
        out = subprocess.run(
            ["curl", "-s", "-0", "-F", "title=hi there", "-F", "file=@%s" % data,
             "http://127.0.0.1:%d/tools/echo.cgi" % self.server.port],
            capture_output=True, timeout=30, check=True).stdout
        self.assertEqual(Echo(out).form, [
            (b"title", b"hi there"),
            (b"file", content),
            (b"file.length", str(len(content)).encode()),
            (b"file.filename", b"upload.bin"),
        ])

    def test_malformed_bodies_get_the_escaped_error_page(self):
        multipart = b"multipart/form-data; boundary=" + BOUNDARY
        script_name = b"</title><script>alert('x')</script>"
        cases = [
            ("ends inside a part", multipart,
             b"--" + BOUNDARY + b'\r\nContent-Disposition: form-data; name="' + script_name + b'"\r\n\r\nvalue',
             b"_parse_multipart_data(): Internal bug at &#39;&lt;/title&gt;&lt;script&gt;alert(&#39;x&#39;)"
             b"&lt;/script&gt;&#39;.",
             b"_parse_multipart_data(): Internal bug at \\'\\x3C/title\\x3E\\x3Cscript\\x3Ealert(\\'x\\')"
             b"\\x3C/script\\x3E\\'."),
            ("head ends with the input", multipart,
             b"--" + BOUNDARY + b'\r\nContent-Disposition: form-data; name="f"\r\nContent-Type: a/b\r\n',
             b"_parse_multipart_data(): Internal bug at &#39;f&#39;.",
             b"_parse_multipart_data(): Internal bug at \\'f\\'."),
            ("not starting with the boundary", multipart, b"hello=world",
             b"_parse_multipart_data(): String format invalid.",
             b"_parse_multipart_data(): String format invalid."),
            ("short disposition line", multipart,
             b"--" + BOUNDARY + b"\r\nContent-Disposition: x\r\n\r\nv\r\n" + end(),
             b"_parse_multipart_data(): String format invalid.",
             b"_parse_multipart_data(): String format invalid."),
            ("no boundary", b"multipart/form-data", part(b"a", b"1") + end(),
             b"_parse_multipart_data(): The boundary string is missing. Stopping process.",
             b"_parse_multipart_data(): The boundary string is missing. Stopping process."),
            ("boundary too long", b"multipart/form-data; boundary=" + b"b" * 250, part(b"a", b"1") + end(),
             b"_parse_multipart_data(): The boundary string is too long. Stopping process.",
             b"_parse_multipart_data(): The boundary string is too long. Stopping process."),
            # (A POST without a body never reaches a program: the server answers 501.)
            ("only a line end", multipart, b"\r\n",
             b"_parse_multipart_data(): String format invalid.",
             b"_parse_multipart_data(): String format invalid."),
        ]
        for what, content_type, body, title, alert in cases:
            with self.subTest(what):
                self.assertEqual(self.ask(post(b"/tools/echo.cgi", content_type, body)),
                                 error_page(title, alert))

    # ---- cookies ------------------------------------------------------------

    def test_cookies_and_an_issued_auth_value(self):
        args = [AUTH_TOKEN, "--address", "127.0.0.1", "--user", "admin", "--kind", "a", "--name", "Admin"]
        cookie_value = subprocess.run(args, capture_output=True, timeout=30, check=True).stdout.strip()
        raw = subprocess.run(args + ["--raw"], capture_output=True, timeout=30, check=True).stdout.strip()
        self.assertTrue(raw.startswith(b"e:admin:"), raw)
        self.assertNotRegex(cookie_value, rb"[+/=]")
        e = self.echo(b"GET /tools/echo.cgi HTTP/1.0\r\nCookie: lang=ko; theme=dark; AUTH=" + cookie_value +
                      b"; sp=%20a+b\r\n\r\n")
        self.assertEqual(e.cookies, [(b"lang", b"ko"), (b"theme", b"dark"), (b"AUTH", raw), (b"sp", b" a b")])
        self.assertEqual(e.env["HTTP_COOKIE"], b"lang=ko; theme=dark; AUTH=" + cookie_value + b"; sp=%20a+b")


if __name__ == "__main__":
    unittest.main()
