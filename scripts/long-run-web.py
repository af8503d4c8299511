#!/usr/bin/env python3
"""A local stand-in for the web bridge's service, for the long run: discret_outputs.php asks for
outputs 1 and 2 to follow the minute (odd minutes on, even off), so the bridge switches relays now
and then; discret_output_set.php answers "OK". Listens on 127.0.0.1 at the given port."""
import http.server
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith("/discret_outputs.php"):
            state = int(time.time() // 60) % 2
            body = f"1 {state}<br>2 {1 - state}<br>".encode()
        elif self.path.startswith("/discret_output_set.php"):
            body = b"OK"
        else:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler).serve_forever()
