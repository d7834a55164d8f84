#!/usr/bin/env python3
"""End-to-end tests of the `pipetask` executable.

Each case runs the built executable as a user would. Cases named echo_* load the stand-in
plug-in (tests/host/echo_plugin.c), which speaks the module boundary without running scripts,
so they test the host itself: formats, sources, events, log lines, send functions, exit codes.
Cases named script_* load the real libpipetask.so and run the scripts of examples/; they skip
themselves (exit code 77) while that plug-in cannot run scripts yet.

    e2e.py --list
    e2e.py --pipetask build/pipetask --echo-plugin build/.../pt_echo_plugin.so \
           --source-dir . CASE
"""
import argparse
import json
import math
import os
import pty
import select
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


class Skip(Exception):
    pass


class Ctx:
    def __init__(self, args):
        self.pipetask = args.pipetask
        self.echo = args.echo_plugin
        self.src = args.source_dir
        self.real_plugin = os.path.join(os.path.dirname(args.pipetask), "libpipetask.so")
        self.tmp = tempfile.mkdtemp(prefix="pipetask-e2e-")

    def path(self, name, content=None):
        p = os.path.join(self.tmp, name)
        if content is not None:
            mode = "wb" if isinstance(content, bytes) else "w"
            with open(p, mode) as f:
                f.write(content)
        return p

    def script(self, text="begin end.\n", name="s.pas"):
        return self.path(name, text)

    def run(self, *args, input=None, plugin="echo", timeout=30):
        cmd = [self.pipetask] + list(args)
        if plugin == "echo" and args and args[0] in ("run", "check"):
            cmd += ["--plugin", self.echo]
        p = subprocess.run(cmd, input=input, capture_output=True, timeout=timeout)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def echo_run(self, data, *extra, fmt=None, script=None):
        inp = self.path("in.txt", data)
        args = ["run", "--script", script or self.script(), "--input", inp]
        if fmt:
            args += ["--format", fmt]
        return self.run(*args, *extra)


def eq(actual, expected, what=""):
    if actual != expected:
        raise AssertionError(f"{what}\n--- expected:\n{expected!r}\n--- actual:\n{actual!r}")


def contains(text, part, what=""):
    if part not in text:
        raise AssertionError(f"{what}: {part!r} not found in:\n{text}")


def lines_of(text):
    return [l for l in text.split("\n") if l]


# ---- formats and files ------------------------------------------------------------------

@case
def echo_jsonl_file(c):
    data = ('{"t":21.5,"unit":"C","n":7}\n'
            '[{"a":1},{"a":2,"b":null}]\n'
            '\n'
            '{"broken":\n'
            '42\n'
            '{"big":3000000000,"s":"caf\\u00e9"}\n')
    rc, out, err = c.echo_run(data)
    eq(rc, 0, err)
    eq(out, '{"t":21.5,"unit":"C","n":7}\n{"a":1}\n{"a":2,"b":null}\n'
            '{"big":3000000000,"s":"caf\u00e9"}\n')
    contains(err, "in.txt:4: skipped: invalid JSON")
    contains(err, "in.txt:5: skipped: expected a JSON object or an array of objects")


@case
def echo_csv_file(c):
    data = "name,temp,ok\nprobe,21.5,1\n\"x,y\",\"7\",\n short \n"
    rc, out, err = c.echo_run(data, fmt="csv")
    eq(rc, 0, err)
    eq(out, 'name,temp,ok\nprobe,21.5,1\n"x,y","7",\n')
    contains(err, "in.txt:4: skipped: expected 3 fields, found 1")
    rc, out, err = c.echo_run(data, "--output-format", "jsonl", fmt="csv")
    eq(out, '{"name":"probe","temp":21.5,"ok":1}\n{"name":"x,y","temp":"7","ok":null}\n')


@case
def echo_raw_file_and_garbage(c):
    data = b"t=21.5 h=40\r\n\xff\xfe binary\nlast line without break"
    rc, out, err = c.echo_run(data, fmt="raw")
    eq(rc, 0, err)
    eq(out, "t=21.5 h=40\nlast line without break\n")
    contains(err, "in.txt:2: skipped: invalid UTF-8 at column 1")


@case
def echo_long_lines_are_skipped(c):
    data = '{"a":1}\n{"pad":"' + "x" * 5000 + '"}\n{"a":3}\n'
    rc, out, err = c.echo_run(data, "--max-line", "100")
    eq(rc, 0, err)
    eq(out, '{"a":1}\n{"a":3}\n')
    contains(err, "in.txt:2: skipped: the line is longer than the limit")


@case
def echo_standard_input_and_output_file(c):
    outp = c.path("out.jsonl")
    rc, out, err = c.run("run", "--script", c.script(), "--output", outp,
                         input=b'{"x":1}\n{"x":2}')
    eq(rc, 0, err)
    eq(out, "")
    eq(open(outp).read(), '{"x":1}\n{"x":2}\n')


# ---- events, log lines, send functions ---------------------------------------------------

@case
def echo_events_and_log_lines(c):
    data = ('{"v":1,"event":"overheat"}\n'
            '{"v":2,"log":"hello log"}\n'
            '{"v":3,"queue":"waited line"}\n'
            '{"v":4,"discard":true}\n')
    rc, out, err = c.echo_run(data)
    eq(rc, 0, err)
    eq(lines_of(out), ['{"v":1,"event":"overheat"}', '{"v":2,"log":"hello log"}',
                       '{"v":3,"queue":"waited line"}'])
    contains(err, '{"event":"OVERHEAT","n":1}')
    contains(err, "info: Echo. hello log")
    contains(err, "info: Echo. waited line")   # fetched with GetLogEx after 0x0711
    contains(err, "info: Echo. discarded")
    contains(err, 'info: Echo. "Echo" script has been compiled successfully')
    # Events to a file of their own, and none on standard error then.
    ev = c.path("events.jsonl")
    rc, out, err = c.echo_run(data, "--events", ev)
    eq(rc, 0, err)
    eq(open(ev).read(), '{"event":"OVERHEAT","n":1}\n')
    if "OVERHEAT" in err:
        raise AssertionError("event also on standard error:\n" + err)


@case
def echo_many_events_are_all_delivered(c):
    data = "".join('{"i":%d,"event":"tick"}\n' % i for i in range(500))
    ev = c.path("events.jsonl")
    rc, out, err = c.echo_run(data, "--events", ev)
    eq(rc, 0, err)
    eq(len(lines_of(open(ev).read())), 500)


@case
def echo_reply_file_for_file_sources(c):
    data = '{"send":"ping\\n"}\n{"byte":300}\n{"send":"x"}\n'
    rep = c.path("reply.bin")
    rc, out, err = c.echo_run(data, "--reply", rep)
    eq(rc, 0, err)
    eq(open(rep, "rb").read(), b"ping\n,x")  # SendByte passes the low 8 bits: 300 -> 44
    contains(err, "info: Echo. sent 1")
    # Without --reply the bytes are dropped and the script sees failure.
    rc, out, err = c.echo_run(data)
    contains(err, "info: Echo. sent 0")


@case
def echo_failed_packets_and_stats(c):
    data = '{"a":1}\n{"fail":1}\n[{"a":2},{"discard":1}]\n{oops\n'
    rc, out, err = c.echo_run(data, "--stats")
    eq(rc, 0, err)
    eq(out, '{"a":1}\n{"a":2}\n')
    contains(err, "stats: 3 packets, 4 rows in, 2 rows out")
    contains(err, "1 malformed lines skipped, 1 packets failed")
    contains(err, "rows/s")


@case
def echo_compile_error_exits_1(c):
    s = c.script("begin COMPILE-ERROR end.\n")
    rc, out, err = c.run("run", "--script", s, input=b'{"a":1}\n')
    eq(rc, 1, err)
    eq(out, "")
    contains(err, "error: Echo. 3:7: ';' expected")
    contains(err, "pipetask: the script does not compile")


# ---- TCP and serial ----------------------------------------------------------------------

def recv_until(sock, n, timeout=10):
    sock.settimeout(timeout)
    got = b""
    while len(got) < n:
        chunk = sock.recv(4096)
        if not chunk:
            break
        got += chunk
    return got


@case
def echo_tcp_connect_with_replies(c):
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    port = srv.getsockname()[1]
    got = {}

    def serve():
        conn, _ = srv.accept()
        conn.sendall(b'{"n":1,"send":"hello"}\n{"n":2}\n')
        got["reply"] = recv_until(conn, 5)
        conn.sendall(b'{"n":3}\n{"n":4,"cut')  # the peer goes away in the middle of a line
        conn.close()

    t = threading.Thread(target=serve)
    t.start()
    rc, out, err = c.run("run", "--script", c.script(), "--input", f"tcp://127.0.0.1:{port}")
    t.join()
    eq(rc, 0, err)
    eq(got["reply"], b"hello")
    eq(lines_of(out), ['{"n":1,"send":"hello"}', '{"n":2}', '{"n":3}'])
    contains(err, f"tcp://127.0.0.1:{port}:4: skipped: the input ended in the middle of the line")


@case
def echo_tcp_listen(c):
    p = subprocess.Popen([c.pipetask, "run", "--script", c.script(), "--plugin", c.echo,
                          "--input", "tcp-listen://127.0.0.1:0"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        line = p.stderr.readline().decode()
        while line and "listening on" not in line:
            line = p.stderr.readline().decode()
        contains(line, "info: listening on tcp://127.0.0.1:")
        port = int(line.strip().rsplit(":", 1)[1])
        s = socket.create_connection(("127.0.0.1", port))
        s.sendall(b'{"send":"pong"}\n')
        eq(recv_until(s, 4), b"pong")
        s.sendall(b'{"last":true}\n')
        s.close()
        out, err = p.communicate(timeout=20)
    finally:
        if p.poll() is None:
            p.kill()
    eq(p.returncode, 0, err.decode())
    eq(lines_of(out.decode()), ['{"send":"pong"}', '{"last":true}'])


@case
def echo_serial_on_a_pseudo_terminal(c):
    master, slave = pty.openpty()
    tty.setraw(slave)
    name = os.ttyname(slave)
    p = subprocess.Popen([c.pipetask, "run", "--script", c.script(), "--plugin", c.echo,
                          "--input", f"serial:{name}?baud=115200", "--format", "raw"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(slave)
    try:
        time.sleep(0.3)  # let it open and configure the port
        os.write(master, b"t=1\nt=2\n")
        # The raw row has DATA only; a reply needs a jsonl "send" item, so check rows here.
        deadline = time.time() + 10
        os.write(master, b"t=3\n")
        time.sleep(0.3)
        os.close(master)  # hang-up: the serial input ends
        out, err = p.communicate(timeout=max(1, deadline - time.time()))
    finally:
        if p.poll() is None:
            p.kill()
    eq(p.returncode, 0, err.decode())
    eq(lines_of(out.decode()), ["t=1", "t=2", "t=3"])


@case
def echo_serial_replies_reach_the_device(c):
    master, slave = pty.openpty()
    tty.setraw(slave)
    name = os.ttyname(slave)
    p = subprocess.Popen([c.pipetask, "run", "--script", c.script(), "--plugin", c.echo,
                          "--input", f"serial:{name}"],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(slave)
    try:
        time.sleep(0.3)
        os.write(master, b'{"send":"ACK"}\n')
        got = b""
        deadline = time.time() + 10
        while len(got) < 3 and time.time() < deadline:
            r, _, _ = select.select([master], [], [], 0.5)
            if r:
                got += os.read(master, 100)
        os.close(master)
        out, err = p.communicate(timeout=20)
    finally:
        if p.poll() is None:
            p.kill()
    eq(got, b"ACK")
    eq(p.returncode, 0, err.decode())


# ---- usage and failures ------------------------------------------------------------------

@case
def usage_and_io_errors(c):
    s = c.script()
    table = [
        (["run", "--script", s, "--bogus"], 2, "--bogus"),
        (["run"], 2, "give either --script FILE or --config INI"),
        (["run", "--script", s, "--format", "xml"], 2, "unknown format 'xml'"),
        (["run", "--script", c.path("a.txt", "x")], 2, "cannot tell the language"),
        (["run", "--script", s, "--language", "Cobol"], 2, "unknown language 'Cobol'"),
        (["run", "--script", c.path("missing.pas")], 3, "cannot read"),
        (["run", "--script", s, "--input", c.path("missing.jsonl")], 3, "cannot open"),
        (["run", "--script", s, "--input", "tcp://127.0.0.1:1"], 3, "cannot connect to tcp://127.0.0.1:1"),
        (["run", "--script", s, "--input", "tcp://nocolon"], 2, "malformed address"),
        (["run", "--script", s, "--input", "serial:/dev/nonexistent-tty"], 3, "cannot open serial:"),
        (["run", "--script", s, "--plugin", c.path("nope.so")], 3, "cannot load the plug-in"),
        (["frobnicate"], 2, "frobnicate"),
    ]
    for args, code, text in table:
        rc, out, err = c.run(*args, plugin="echo" if "--plugin" not in args else None,
                             input=b"")
        eq(rc, code, f"{args}: {err}")
        contains(err, text, str(args))
        eq(len(lines_of(err)), 1, f"{args} should give one line:\n{err}")


@case
def help_texts(c):
    for args, words in [([], ["run", "check", "il", "Exit codes"]),
                        (["run"], ["--script", "--input", "--format", "--events", "--reply",
                                   "--stats", "tcp-listen://HOST:PORT", "serial:DEVICE"]),
                        (["check"], ["FILE", "--language"]),
                        (["il"], ["FILE", "--language"])]:
        rc, out, err = c.run(*args, "--help", plugin=None)
        eq(rc, 0, err)
        for w in words:
            contains(out, w, " ".join(args + ["--help"]))


# ---- check and il (the script front end) -------------------------------------------------

def need_front_end(c):
    rc, out, err = c.run("il", c.script("begin end.\n"), plugin=None)
    if "no script front end" in err:
        raise Skip("this build has no script front end yet")


@case
def check_reports_exact_positions(c):
    need_front_end(c)
    table = [
        ("begin\n  a := 1\n  b := 2\nend.\n", "s.pas:3:3: ';' expected"),
        ("x := 1\n", "s.pas:1:1: 'BEGIN' expected"),
        ("begin\n  if a > = b then\nend.\n", "s.pas:2:8: 'THEN' expected"),
    ]
    for text, expected in table:
        s = c.script(text)
        rc, out, err = c.run("check", s)
        eq(rc, 1, err)
        eq(lines_of(err), [os.path.join(c.tmp, expected)])
    rc, out, err = c.run("check", c.script("begin\nend.\n"))
    eq(rc, 0, err)
    eq(out, "Compiled OK\n")


@case
def il_prints_the_intermediate_form(c):
    need_front_end(c)
    rc, out, err = c.run("il", c.script("begin\nend.\n"), plugin=None)
    eq(rc, 0, err)
    contains(out, "<?xml")
    contains(out, "<program")


# ---- the real plug-in running the examples -----------------------------------------------

def need_script_runtime(c):
    if not os.path.exists(c.real_plugin):
        raise Skip(f"{c.real_plugin} is not built yet")
    probe = c.script("begin\n  SetVariable('probe', 1);\nend.\n", "probe.pas")
    rc, out, err = c.run("run", "--script", probe, input=b'{"a":0}\n', plugin=None)
    if rc != 0 or '"probe":1' not in out:
        raise Skip("the plug-in does not run scripts yet (no script runtime): "
                   f"exit {rc}, {out.strip()!r}, {err.strip()[:200]!r}")


def example(c, name):
    return os.path.join(c.src, "examples", name)


@case
def script_unit_conversion(c):
    need_script_runtime(c)
    rc, out, err = c.run("run", "--script", example(c, "convert.pas"),
                         "--input", example(c, "convert.jsonl"), plugin=None)
    eq(rc, 0, err)
    rows = [json.loads(l) for l in lines_of(out)]
    eq(len(rows), 5)
    for r in rows:
        t, rh = r["temp_c"], r["hum"]
        g = math.log(rh / 100) + 17.62 * t / (243.12 + t)
        expected = {"temp_f": t * 1.8 + 32, "wind_ms": r["wind_kmh"] / 3.6,
                    "dew_point_c": 243.12 * g / (17.62 - g)}
        for k, v in expected.items():
            if abs(r[k] - v) > 0.051:  # the script rounds to one decimal
                raise AssertionError(f"{k} of {r}: expected about {v}")
        eq(list(r)[:4], ["station", "temp_c", "hum", "wind_kmh"], "input items keep their order")


@case
def script_threshold_filter(c):
    need_script_runtime(c)
    rc, out, err = c.run("run", "--script", example(c, "threshold.pas"),
                         "--input", example(c, "threshold.jsonl"), plugin=None)
    eq(rc, 0, err)
    rows = [json.loads(l) for l in lines_of(out)]
    if any(r["temp"] > 80 for r in rows):
        raise AssertionError("rows above the threshold were kept:\n" + out)
    contains(err, '"event":"OVERHEAT"')
    contains(err, "Data packet has been discarted")


@case
def script_running_average(c):
    need_script_runtime(c)
    rc, out, err = c.run("run", "--script", example(c, "average.pas"),
                         "--input", example(c, "average.jsonl"), plugin=None)
    eq(rc, 0, err)
    avgs = [json.loads(l)["avg"] for l in lines_of(out)]
    eq(avgs, [10.0, 15.0, 20.0, 25.0])


@case
def script_raw_key_value_parser(c):
    need_script_runtime(c)
    rc, out, err = c.run("run", "--script", example(c, "keyvalue.pas"),
                         "--input", example(c, "keyvalue.txt"), "--format", "raw",
                         "--output-format", "jsonl", plugin=None)
    eq(rc, 0, err)
    first = json.loads(lines_of(out)[0])
    eq(first, {"station": "north", "temp": "21.5", "hum": "40"})


@case
def script_send_string_over_tcp(c):
    need_script_runtime(c)
    srv = socket.socket()
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    port = srv.getsockname()[1]
    got = {}

    def serve():
        conn, _ = srv.accept()
        conn.sendall(b'{"cmd":"ping"}\n')
        got["reply"] = recv_until(conn, 6)
        conn.close()

    t = threading.Thread(target=serve)
    t.start()
    s = c.script("begin\n  if GetVariable('cmd') = 'ping' then SendString('pong' + #13#10);\nend.\n")
    rc, out, err = c.run("run", "--script", s, "--input", f"tcp://127.0.0.1:{port}", plugin=None)
    t.join()
    eq(rc, 0, err)
    eq(got["reply"], b"pong\r\n")


@case
def script_check_with_the_real_plugin(c):
    need_front_end(c)
    need_script_runtime(c)
    s = c.script("begin\n  Foo(1);\nend.\n")
    rc, out, err = c.run("check", s, plugin=None)
    eq(rc, 1, err)
    contains(err, s)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--list", action="store_true")
    ap.add_argument("--pipetask")
    ap.add_argument("--echo-plugin")
    ap.add_argument("--source-dir")
    ap.add_argument("case", nargs="?")
    args = ap.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    c = Ctx(args)
    try:
        CASES[args.case](c)
    except Skip as s:
        print(f"SKIPPED: {s}")
        return 77
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
