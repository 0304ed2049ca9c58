#!/usr/bin/env python3
"""Serves appcast fixtures on 127.0.0.1 for the updater's tests.

Prints the port on the first line once it listens; ends when standard input
closes (the test ending) or after 120 s, so it never outlives a stuck test.

  /feed/VERSION        one item of that version
  /several             several items, the newest 0.4.0 in the middle
  /malformed           not well-formed XML
  /huge                2 MiB without a length header
  /slow                answers after 60 s
  /loop                redirects to itself
  /redirect/VERSION    redirects twice, then /feed/VERSION
  /to-plain-http       redirects to a plain-HTTP address elsewhere
"""
import http.server
import os
import sys
import threading
import time

SPARKLE = "http://www.andymatuschak.org/xml-namespaces/sparkle"


def item(version):
    return (f"<item><title>Pilvo {version}</title>"
            f"<sparkle:version>{version}</sparkle:version>"
            f"<sparkle:shortVersionString>{version}</sparkle:shortVersionString>"
            f"<sparkle:releaseNotesLink>https://example.org/notes/{version}</sparkle:releaseNotesLink>"
            f'<enclosure url="https://example.org/pilvo-{version}.tar.gz" length="1"/></item>')


def feed(*versions):
    return (f'<?xml version="1.0" encoding="utf-8"?><rss version="2.0" xmlns:sparkle="{SPARKLE}">'
            f"<channel><title>Pilvo</title>{''.join(item(v) for v in versions)}</channel></rss>")


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def send_text(self, text, length=True):
        data = text.encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/rss+xml")
        if length:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, target):
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        path = self.path
        if path.startswith("/feed/"):
            self.send_text(feed(path[len("/feed/"):]))
        elif path == "/several":
            self.send_text(feed("0.0.9", "0.4.0", "0.3.0", "0.1.0"))
        elif path == "/malformed":
            self.send_text("<rss><channel><item><sparkle:version>9.0")
        elif path == "/huge":
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = ("<!-- " + "x" * 65000 + " -->").encode()
            try:
                for _ in range(32):
                    self.wfile.write(chunk)
            except (BrokenPipeError, ConnectionResetError):
                pass
        elif path == "/slow":
            time.sleep(60)
            self.send_text(feed("9.0"))
        elif path == "/loop":
            self.redirect("/loop")
        elif path.startswith("/redirect/"):
            rest = path[len("/redirect/"):]
            hops = rest.count("/")
            self.redirect("/redirect/" + rest + "/" if hops < 2 else "/feed/" + rest.strip("/"))
        elif path == "/to-plain-http":
            self.redirect("http://example.org/appcast.xml")
        else:
            self.send_error(404)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
threading.Thread(target=server.serve_forever, daemon=True).start()
print(server.server_address[1], flush=True)
threading.Timer(120, lambda: os._exit(0)).start()
sys.stdin.read()
os._exit(0)
