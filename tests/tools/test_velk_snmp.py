#!/usr/bin/env python3
"""End-to-end tests of velk-snmp, run the way a user runs it: against snmpd, against
velk-snmp agent (and net-snmp's walkers against our agent), notifications into velk-snmp
listen and into snmptrapd, the MIB tools on the standard corpus, decode, and every usage
error with its exit status.

    test_velk_snmp.py --tool BUILD/tools/velk-snmp --mibs CORPUS --source ROOT --group GROUP

A group whose peer program is missing is skipped (exit status 77). UPDATE_GOLDEN=1 rewrites
the golden files instead of comparing with them.
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ARGS = None
GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden")
SKIPPED = 77


def tool_env(extra_dirs=()):
    env = dict(os.environ)
    env["VELK_MIBDIRS"] = ":".join([ARGS.mibs, os.path.join(ARGS.source, "tools", "mibs"), *extra_dirs])
    env.pop("VELK_MIBS", None)
    env["LC_ALL"] = "C"
    return env


def run(*args, timeout=120, env=None, stdin=None):
    """Runs velk-snmp; returns (status, stdout, stderr)."""
    p = subprocess.run([ARGS.tool, *args], capture_output=True, text=True, timeout=timeout,
                       env=env or tool_env(), input=stdin)
    return p.returncode, p.stdout, p.stderr


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def need(program):
    path = shutil.which(program) or next(
        (p for p in ("/usr/sbin/" + program, "/usr/bin/" + program) if os.path.exists(p)), None)
    if not path:
        raise unittest.SkipTest(program + " is not installed")
    return path


class Process:
    """A background program, stopped by its process id."""

    def __init__(self, argv, env=None):
        self.out = tempfile.TemporaryFile("w+")
        self.err = tempfile.TemporaryFile("w+")
        self.p = subprocess.Popen(argv, stdout=self.out, stderr=self.err, env=env)

    def stop(self, sig=signal.SIGTERM):
        if self.p.poll() is None:
            self.p.send_signal(sig)
            try:
                self.p.wait(10)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait(10)
        return self.p.returncode

    def output(self):
        self.out.seek(0)
        self.err.seek(0)
        return self.out.read(), self.err.read()


def wait_until(predicate, seconds=15.0):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def answers(port, community="public"):
    return run("get", "-t", "0.3", "-r", "0", "-c", community, "127.0.0.1:%d" % port, "1.3.6.1.2.1.1.3.0",
               timeout=20)[0] == 0


def golden(test, name, text):
    path = os.path.join(GOLDEN, name)
    if os.environ.get("UPDATE_GOLDEN"):
        os.makedirs(GOLDEN, exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        return
    with open(path) as f:
        test.assertEqual(f.read(), text, "differs from golden file " + name)


def one_line_error(test, stderr):
    lines = [line for line in stderr.splitlines() if not line.startswith("velk-snmp: warning:")]
    test.assertEqual(len(lines), 1, stderr)
    test.assertTrue(lines[0].startswith("velk-snmp"), stderr)
    return lines[0]


def walk_lines(text):
    """'.1.3.6... = TYPE: value' lines as (oid, type, value), net-snmp's form or ours."""
    out = []
    for line in text.splitlines():
        if " = " not in line:
            continue
        oid, value = line.split(" = ", 1)
        if value.startswith("No more variables"):
            continue
        m = re.match(r"([A-Za-z0-9-]+): (.*)$", value)
        kind, text_value = (m.group(1), m.group(2)) if m else ("STRING", value)
        out.append((oid.lstrip("."), kind, text_value.strip()))
    return out


VOLATILE_KINDS = ("Counter32", "Counter64", "Gauge32", "Timeticks", "Hex-STRING")


def compare_walks(test, ours, theirs, volatile=()):
    """Same OIDs in the same order, and the same values wherever a value cannot change
    between two walks (strings, integers, OIDs)."""
    test.assertEqual([o for o, _, _ in ours], [o for o, _, _ in theirs])
    for (oid, kind, value), (_, their_kind, their_value) in zip(ours, theirs):
        if oid in volatile or kind in VOLATILE_KINDS or their_kind in VOLATILE_KINDS:
            continue
        test.assertEqual((kind, value), (their_kind, their_value), oid)


# ---------------------------------------------------------------------------------------
class UsageTests(unittest.TestCase):
    """Usage errors: one line on standard error and exit status 2; help for everything."""

    COMMANDS = ["get", "getnext", "getbulk", "walk", "set", "table", "trap", "inform", "listen", "agent",
                "compile", "translate", "mib-image", "decode"]

    def test_help_of_the_tool_and_of_every_command(self):
        status, out, _ = run("--help")
        self.assertEqual(status, 0)
        for c in self.COMMANDS:
            self.assertRegex(out, r"\n  %s\s" % re.escape(c))
            status, text, _ = run(c, "--help")
            self.assertEqual(status, 0, c)
            self.assertTrue(text.startswith("Usage: velk-snmp " + c), c)
            self.assertEqual(run("help", c)[1], text)

    def test_usage_errors_exit_with_status_2_and_one_line(self):
        cases = [
            (["frobnicate"], "unknown command"),
            (["get"], "missing HOST"),
            (["get", "localhost"], "missing HOST and OID"),
            (["get", "--bogus", "localhost", "sysDescr.0"], "unknown option --bogus"),
            (["get", "-X", "localhost", "sysDescr.0"], "unknown option -X"),
            (["get", "-v", "3", "localhost", "sysDescr.0"], "version 3 is not supported"),
            (["get", "-v", "9", "localhost", "sysDescr.0"], "invalid SNMP version"),
            (["get", "-t", "soon", "localhost", "sysDescr.0"], "invalid time-out"),
            (["get", "-r", "-1", "localhost", "sysDescr.0"], "invalid value '-1' for -r"),
            (["get", "localhost:99999", "sysDescr.0"], "invalid value '99999'"),
            (["get", "[::1", "sysDescr.0"], "missing ']'"),
            (["get", "-c"], "option -c needs a value"),
            (["get", "-Ox", "localhost", "sysDescr.0"], "unknown output flag -Ox"),
            (["get", "localhost", "noSuchThing.0"], "unknown object name 'noSuchThing'"),
            (["get", "localhost", "NO-SUCH-MIB::sysDescr.0"], "module NO-SUCH-MIB is not loaded"),
            (["get", "localhost", "1.3.6..1"], "malformed OID"),
            (["get", "localhost", "sysDescr.x"], "malformed index"),
            (["get", "-m", "NO-SUCH-MIB", "localhost", "1.3.6.1"], "MIB module NO-SUCH-MIB not found"),
            (["getbulk", "-v1", "localhost", "system"], "getbulk needs SNMP version 2c"),
            (["getbulk", "-Cz", "localhost", "system"], "unknown option -Cz"),
            (["getbulk", "-Cr0", "localhost", "system"], "invalid value '0' for -Cr"),
            (["walk", "localhost", "system", "interfaces"], "walk takes one OID"),
            (["set", "localhost", "sysContact.0", "s"], "missing HOST and OID TYPE VALUE"),
            (["set", "localhost", "sysContact.0", "s", "x", "sysName.0"], "OID TYPE VALUE triples"),
            (["set", "localhost", "sysContact.0", "q", "x"], "unknown type letter 'q'"),
            (["set", "localhost", "sysServices.0", "i", "lots"], "invalid INTEGER value 'lots'"),
            (["set", "localhost", "sysServices.0", "i", "99999999999"], "invalid INTEGER value"),
            (["set", "localhost", "sysUpTime.0", "t", "-5"], "invalid value '-5'"),
            (["set", "localhost", "sysContact.0", "a", "300.1.1.1"], "invalid IpAddress"),
            (["set", "localhost", "sysContact.0", "x", "abc"], "odd number of digits"),
            (["set", "localhost", "1.3.6.1.4.1.1.0", "=", "5"], "give a type letter"),
            (["table", "localhost", "sysDescr"], "is not a table"),
            (["table", "localhost", "ifTable", "--columns", "sysDescr"], "is not a column"),
            (["trap", "localhost"], "needs HOST UPTIME TRAP-OID"),
            (["trap", "-v", "1", "localhost", "", ""], "needs HOST ENTERPRISE"),
            (["trap", "-v", "1", "localhost", "", "", "sevenish", "0", ""], "invalid value 'sevenish'"),
            (["trap", "localhost", "later", "coldStart"], "invalid value 'later' for the uptime"),
            (["inform", "-v", "1", "localhost", "", "coldStart"], "inform needs SNMP version 2c"),
            (["listen", "extra"], "listen takes no arguments"),
            (["listen", "--port", "0"], "invalid value '0' for --port"),
            (["agent", "--value", "sysContact.0"], "--value takes OID=VALUE"),
            (["agent", "--value", "1.3.6.1.4.1.32473.99.0=x"], "serve it from a --values file"),
            (["agent", "--values", "/nonexistent/values"], "cannot read the values file"),
            (["agent", "--trap-dest", "[::1]:162"], "IPv4 addresses and host names"),
            (["compile"], "missing MODULE or FILE"),
            (["compile", "NO-SUCH-MIB"], "MIB module NO-SUCH-MIB not found"),
            (["translate"], "missing NAME or OID"),
            (["translate", "sysDescrX"], "unknown object name"),
            (["translate", "--image", "/tmp/x.img", "sysDescr"], "must contain \".bin\""),
            (["mib-image", "image.dat"], "must contain \".bin\""),
            (["mib-image"], "takes one FILE"),
            (["decode"], "missing HEX"),
            (["decode", "30", "0g"], "invalid hex text"),
            (["decode", "-f", "/nonexistent/msg"], "cannot read"),
        ]
        for argv, expected in cases:
            with self.subTest(argv=argv):
                status, out, err = run(*argv)
                self.assertEqual(status, 2, (argv, out, err))
                line = one_line_error(self, err)
                self.assertIn(expected, line)
        status, _, err = run()
        self.assertEqual(status, 2)
        self.assertIn("Usage: velk-snmp", err)


# ---------------------------------------------------------------------------------------
class MibTests(unittest.TestCase):
    """compile, translate and mib-image on the standard corpus."""

    def test_compile_lists_objects_and_notifications(self):
        for module in ("SNMPv2-MIB", "IF-MIB"):
            status, out, err = run("compile", module)
            self.assertEqual(status, 0, err)
            golden(self, "compile-%s.txt" % module, out)
        status, out, err = run("compile", "--json", "IF-MIB")
        rows = json.loads(out)
        names = {r["name"]: r for r in rows}
        self.assertEqual(names["ifDescr"]["oid"], "1.3.6.1.2.1.2.2.1.2")
        self.assertEqual(names["ifDescr"]["access"], "read-only")
        self.assertEqual(names["linkDown"]["kind"], "notification")
        self.assertEqual(names["linkDown"]["oid"], "1.3.6.1.6.3.1.1.5.3")
        self.assertNotIn("sysDescr", names)  # imported modules are compiled but not listed

    def test_compile_reports_the_compiler_message_with_file_and_line(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "BROKEN-MIB.txt")
            with open(path, "w") as f:
                f.write("BROKEN-MIB DEFINITIONS ::= BEGIN\n"
                        "IMPORTS OBJECT-TYPE FROM SNMPv2-SMI;\n"
                        "brokenThing OBJECT-TYPE\n"
                        "    SYNTAX INTEGER\n"
                        "    MAX-ACCESS read-only\n"
                        "    STATUS current\n"
                        "    DESCRIPTION \"x\"\n"
                        "    ::= { nowhereNode 1 }\n"
                        "END\n")
            status, out, err = run("compile", path)
            self.assertEqual(status, 1, err)
            line = one_line_error(self, err)
            self.assertIn("BROKEN-MIB.txt(8)", line)
            self.assertIn("nowhereNode", line)
            # The same module as an import of -m: also an error.
            status, _, err = run("get", "-M", "+" + d, "-m", "BROKEN-MIB", "localhost", "1.3.6.1")
            self.assertEqual(status, 1)
            self.assertIn("BROKEN-MIB.txt(8)", one_line_error(self, err))

    def test_all_modules_leave_out_only_a_failing_module_and_its_importers(self):
        modules = {
            "ROOT-MIB.txt": "ROOT-MIB DEFINITIONS ::= BEGIN\norg OBJECT IDENTIFIER ::= { iso 3 }\n"
                            "testRoot OBJECT IDENTIFIER ::= { org 99 }\nEND\n",
            "AAA-MIB.txt": "AAA-MIB DEFINITIONS ::= BEGIN\nIMPORTS testRoot FROM ROOT-MIB;\n"
                           "aaaNode OBJECT IDENTIFIER ::= { testRoot 1 }\nEND\n",
            # Uses aaaNode without importing it, and comes before AAA-MIB in import order.
            "LOOSE-MIB.txt": "LOOSE-MIB DEFINITIONS ::= BEGIN\nIMPORTS testRoot FROM ROOT-MIB;\n"
                             "looseNode OBJECT IDENTIFIER ::= { aaaNode 5 }\nEND\n",
            "BAD-MIB.txt": "BAD-MIB DEFINITIONS ::= BEGIN\nIMPORTS testRoot FROM ROOT-MIB;\n"
                           "badNode OBJECT IDENTIFIER ::= { testRoot 2 }\n"
                           "badObject OBJECT-TYPE\n    MAX-ACCESS read-only\n    STATUS current\n"
                           "    ::= { badNode 1 }\nEND\n",
            "NEEDS-BAD-MIB.txt": "NEEDS-BAD-MIB DEFINITIONS ::= BEGIN\nIMPORTS badNode FROM BAD-MIB;\n"
                                 "needsNode OBJECT IDENTIFIER ::= { badNode 1 }\nEND\n",
            "TWO-MIBS.txt": "FIRST-MIB DEFINITIONS ::= BEGIN\nIMPORTS testRoot FROM ROOT-MIB;\n"
                            "firstNode OBJECT IDENTIFIER ::= { testRoot 3 }\nEND\n"
                            "SECOND-MIB DEFINITIONS ::= BEGIN\nIMPORTS firstNode FROM FIRST-MIB;\n"
                            "secondNode OBJECT IDENTIFIER ::= { firstNode 1 }\nEND\n",
        }
        with tempfile.TemporaryDirectory() as d:
            for name, text in modules.items():
                with open(os.path.join(d, name), "w") as f:
                    f.write(text)
            status, out, err = run("translate", "-M", d, "-m", "ALL", "looseNode", "aaaNode", "secondNode",
                                   ".1.3.99.3.1")
            self.assertEqual(status, 0, err)
            self.assertEqual(out, ".1.3.99.1.5\n.1.3.99.1\n.1.3.99.3.1\nSECOND-MIB::secondNode\n")
            self.assertEqual(err, "velk-snmp: warning: left out NEEDS-BAD-MIB, BAD-MIB: %s(5) - \"SYNTAX\" expected.\n"
                             % os.path.join(d, "BAD-MIB.txt"))
            status, _, err = run("translate", "-M", d, "-m", "ALL", "needsNode")
            self.assertEqual(status, 2)
            self.assertIn("unknown object name 'needsNode'", err)

    def test_translate_names_and_oids(self):
        inputs = ["sysDescr.0", "SNMPv2-MIB::sysUpTime.0", "ifDescr.3", "IF-MIB::ifHCInOctets.2",
                  ".1.3.6.1.2.1.2.2.1.8.1", "1.3.6.1.2.1.1", ".1.3.6.1.6.3.1.1.5.3", "linkUp", "iso.3.6.1.4.1",
                  ".1.3.6.1.4.1.32473.1.1.9.0", ".1.3.6.1.2.1.25.4.2.1.2.1"]
        out = ""
        for flags in ([], ["-On"], ["-Os"]):
            status, text, err = run("translate", *flags, "-m", "+VELK-DEMO-MIB", *inputs)
            self.assertEqual(status, 0, err)
            out += "$ translate %s\n%s" % (" ".join(flags) or "(no options)", text)
        golden(self, "translate.txt", out)
        status, text, _ = run("translate", "--json", "ifDescr.3")
        self.assertEqual(json.loads(text), [{"input": "ifDescr.3", "oid": "1.3.6.1.2.1.2.2.1.2.3",
                                             "name": "IF-MIB::ifDescr.3"}])
        status, text, _ = run("translate", "--details", "ifAdminStatus")
        self.assertIn("access       read-write", text)
        self.assertIn("INTEGER{up(1),down(2),testing(3)", text)

    def test_translate_agrees_with_snmptranslate_on_the_whole_corpus(self):
        snmptranslate = need("snmptranslate")
        names = ["sysDescr", "sysORTable", "ifHCOutOctets", "ifStackStatus", "ipAdEntAddr", "ipNetToPhysicalState",
                 "tcpConnState", "udpEndpointProcess", "hrSWRunName", "hrStorageUsed", "snmpTargetAddrTAddress",
                 "vacmGroupName", "usmUserAuthProtocol", "dot1dTpFdbPort", "etherStatsOctets", "dot3StatsFCSErrors",
                 "ipv6IfDescr", "nlmLogTime", "mteTriggerName", "pingCtlTargetAddress", "laLoad", "dskPath",
                 "nsExtendOutput1Line", "sctpAssocRemHostName", "tunnelIfLocalAddress", "schedName", "smScriptName",
                 "ipCidrRouteDest", "applName", "mtaReceivedMessages"]
        status, ours, err = run("translate", "-m", "ALL", *names)
        self.assertEqual(status, 0, err)
        theirs = subprocess.run([snmptranslate, "-M", ARGS.mibs, "-m", "ALL", "-IR", "-On", *names], capture_output=True,
                                text=True).stdout
        self.assertEqual(ours.split(), theirs.split())

    def test_image_gives_the_same_names_as_the_modules(self):
        with tempfile.TemporaryDirectory() as d:
            image = os.path.join(d, "if.bin")
            status, out, err = run("mib-image", "-m", "IF-MIB:VELK-DEMO-MIB", image)
            if status == 1 and "not available" in err:
                self.skipTest("this build has no MIB image writer")
            self.assertEqual(status, 0, err)
            inputs = ["ifDescr.3", ".1.3.6.1.2.1.2.2.1.8.1", "interfaces", "linkDown", "velkMessage.0"]
            from_modules = run("translate", "-m", "IF-MIB:VELK-DEMO-MIB", *inputs)
            from_image = run("translate", "--image", image, *inputs)
            self.assertEqual(from_image, from_modules)
            self.assertEqual(run("translate", "--details", "--image", image, "ifAdminStatus")[1],
                             run("translate", "--details", "-m", "IF-MIB", "ifAdminStatus")[1])


# ---------------------------------------------------------------------------------------
class DecodeTests(unittest.TestCase):
    """decode of known messages."""

    MESSAGES = {
        "get-v1": "30 20 02 01 00 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00",
        "getbulk": "30 3B 02 01 01 04 00 A5 34 02 01 05 02 01 02 02 01 0A 30 29 30 0C 06 08 2B 06 01 02 01 01 01 00 05 "
                   "00 30 0C 06 08 2B 06 01 02 01 01 03 00 05 00 30 0B 06 07 2B 06 01 02 01 02 02 05 00",
        "trap-v1": "30 1F 02 01 00 04 00 A4 18 06 05 2B 06 01 04 01 40 04 0A 00 00 01 02 01 00 02 01 00 43 01 64 30 00",
        # A v2c response: public, id 7, sysDescr.0 = "Hi", ifType.1 = 24, sysUpTime.0 = 8640100,
        # ifPhysAddress.2 = 00:0c:29:01:02:03, and a noSuchInstance binding.
        "response": "30 6F 02 01 01 04 06 70 75 62 6C 69 63 A2 62 02 01 07 02 01 00 02 01 00 30 57 "
                    "30 0E 06 08 2B 06 01 02 01 01 01 00 04 02 48 69 "
                    "30 0F 06 0A 2B 06 01 02 01 02 02 01 03 01 02 01 18 "
                    "30 10 06 08 2B 06 01 02 01 01 03 00 43 04 00 83 D6 64 "
                    "30 14 06 0A 2B 06 01 02 01 02 02 01 06 02 04 06 00 0C 29 01 02 03 "
                    "30 0C 06 08 2B 06 01 02 01 01 05 01 81 00",
    }

    def test_known_messages_print_every_field(self):
        out = ""
        for name in sorted(self.MESSAGES):
            status, text, err = run("decode", self.MESSAGES[name])
            self.assertEqual(status, 0, (name, err))
            out += "$ decode %s\n%s" % (name, text)
        golden(self, "decode.txt", out)

    def test_file_stdin_and_json(self):
        raw = bytes.fromhex(self.MESSAGES["response"])
        with tempfile.NamedTemporaryFile(suffix=".bin") as f:
            f.write(raw)
            f.flush()
            from_file = run("decode", "-f", f.name)
        from_stdin = run("decode", "-f", "-", stdin=self.MESSAGES["response"])
        self.assertEqual(from_file, run("decode", self.MESSAGES["response"]))
        self.assertEqual(from_stdin, from_file)
        status, text, _ = run("decode", "--json", self.MESSAGES["response"])
        msg = json.loads(text)
        self.assertEqual((msg["version"], msg["community"], msg["pdu"], msg["requestId"]), ("2c", "public", "Response", 7))
        self.assertEqual(msg["variables"][0]["value"], "Hi")
        self.assertEqual(msg["variables"][1]["label"], "softwareLoopback")
        self.assertEqual(msg["variables"][4]["exception"], "noSuchInstance")

    def test_malformed_messages_fail(self):
        good = self.MESSAGES["get-v1"].split()
        for bad in (good[:-1], good + ["00"], ["04", "00"], ["30", "03", "02", "01"]):
            status, _, err = run("decode", *bad)
            self.assertEqual(status, 1, bad)
            self.assertIn("not a valid SNMP v1/v2c message", one_line_error(self, err))



# ---------------------------------------------------------------------------------------
def ber(tag, content):
    n = len(content)
    if n < 128:
        return bytes([tag, n]) + content
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


def ber_int(v):
    return ber(0x02, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True))


def ber_oid(text):
    arcs = [int(a) for a in text.split(".")]
    out = bytes([40 * arcs[0] + arcs[1]])
    for a in arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.append(0x80 | (a & 0x7F))
            a >>= 7
        out += bytes(reversed(chunk))
    return ber(0x06, out)


def ber_read(data, pos):
    """(tag, content, next position) of the element at `pos`."""
    tag, n = data[pos], data[pos + 1]
    pos += 2
    if n & 0x80:
        size = n & 0x7F
        n = int.from_bytes(data[pos:pos + size], "big")
        pos += size
    return tag, data[pos:pos + n], pos + n


def oid_text(content):
    arcs = [content[0] // 40, content[0] % 40]
    value = 0
    for b in content[1:]:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            arcs.append(value)
            value = 0
    return ".".join(map(str, arcs))


class LoopbackUdpServer:
    """A UDP socket on a free loopback port served by `_run` on a thread until `close`."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.1)
        self.port = self.sock.getsockname()[1]
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def close(self):
        self.running = False
        self.thread.join(5)
        self.sock.close()


class FakeAgent(LoopbackUdpServer):
    """A v2c agent with nine scalars 1.3.6.1.2.1.1.N.0 that misbehaves on purpose:
    'loop' answers every GetNext with the first OID, 'toobig' refuses GetBulks of more than
    two repetitions, 'short' answers GetBulks with one variable, 'empty' with none."""

    OIDS = ["1.3.6.1.2.1.1.%d.0" % n for n in range(1, 10)]

    def __init__(self, mode):
        self.mode = mode
        self.requests = []  # (PDU tag, max-repetitions)
        super().__init__()

    def _next(self, oid):
        key = lambda o: [int(a) for a in o.split(".")]
        later = [o for o in self.OIDS if key(o) > key(oid)]
        return later[0] if later else None

    def _answer(self, data):
        _, message, _ = ber_read(data, 0)
        _, _, pos = ber_read(message, 0)  # version
        _, community, pos = ber_read(message, pos)
        pdu, body, _ = ber_read(message, pos)
        _, request_id, p = ber_read(body, 0)
        _, non_repeaters, p = ber_read(body, p)
        _, max_repetitions, p = ber_read(body, p)
        _, binds, _ = ber_read(body, p)
        _, bind, _ = ber_read(binds, 0)
        _, name, _ = ber_read(bind, 0)
        requested = oid_text(name)
        repetitions = int.from_bytes(max_repetitions, "big") if pdu == 0xA5 else 1
        self.requests.append((pdu, repetitions))
        status, out = 0, []
        if self.mode == "loop":
            out = [self.OIDS[0]]
        elif self.mode == "toobig" and pdu == 0xA5 and repetitions > 2:
            status = 1
        else:
            count = repetitions
            if pdu == 0xA5 and self.mode == "short":
                count = 1
            if pdu == 0xA5 and self.mode == "empty":
                count = 0
            oid = requested
            for _ in range(count):
                oid = self._next(oid)
                if not oid:
                    break
                out.append(oid)
        varbinds = b"".join(ber(0x30, ber_oid(o) + ber(0x04, b"value " + o.split(".")[-2].encode())) for o in out)
        if not out and not (pdu == 0xA5 and self.mode == "empty") and status == 0:
            varbinds = ber(0x30, ber_oid(requested) + b"\x82\x00")  # endOfMibView
        response = ber(0xA2, ber(0x02, request_id) + ber_int(status) + ber_int(0) + ber(0x30, varbinds))
        return ber(0x30, ber_int(1) + ber(0x04, community) + response)

    def _run(self):
        while self.running:
            try:
                data, client = self.sock.recvfrom(65535)
            except socket.timeout:
                continue
            except OSError:
                break
            self.sock.sendto(self._answer(data), client)



class WalkTests(unittest.TestCase):
    """walk against agents that misbehave."""

    def walk(self, mode, *flags):
        agent = FakeAgent(mode)
        try:
            status, out, err = run("walk", "-m", "", "-On", "-t", "2", *flags, "127.0.0.1:%d" % agent.port,
                                   "1.3.6.1.2.1.1")
        finally:
            agent.close()
        return status, out, err, agent.requests

    def test_an_oid_that_does_not_increase_stops_the_walk(self):
        status, out, err, requests = self.walk("loop")
        self.assertEqual(status, 1)
        self.assertEqual(len(out.splitlines()), 1)
        self.assertIn("returned .1.3.6.1.2.1.1.1.0 after .1.3.6.1.2.1.1.1.0: OID not increasing",
                      one_line_error(self, err))
        status, out, err, requests = self.walk("loop", "-Cc", "--limit", "5")
        self.assertEqual(status, 0, err)
        self.assertEqual(len(out.splitlines()), 5)

    def test_too_big_halves_max_repetitions(self):
        status, out, err, requests = self.walk("toobig", "-Cr8")
        self.assertEqual(status, 0, err)
        self.assertEqual(len(out.splitlines()), 9)
        bulk = [r for pdu, r in requests if pdu == 0xA5]
        self.assertEqual(bulk[:3], [8, 4, 2])
        self.assertTrue(all(r == 2 for r in bulk[2:]))

    def test_short_and_empty_bulk_answers(self):
        for mode in ("short", "empty"):
            status, out, err, requests = self.walk(mode)
            self.assertEqual(status, 0, err)
            self.assertEqual([line.split(" = ")[0] for line in out.splitlines()],
                             ["." + o for o in FakeAgent.OIDS], mode)
        self.assertIn(0xA1, [pdu for pdu, _ in requests])  # an empty answer is followed by a GetNext

# ---------------------------------------------------------------------------------------
class DroppingProxy(LoopbackUdpServer):
    """A UDP relay in front of an agent that drops the first `drop` requests, or holds back
    the answer to the first request for `delay` seconds. Keeps every request it saw."""

    def __init__(self, target_port, drop=0, delay=0.0):
        self.target = ("127.0.0.1", target_port)
        self.drop, self.delay = drop, delay
        self.requests = []
        super().__init__()

    def _run(self):
        upstream = {}  # client address -> socket towards the agent
        timers = []
        while self.running:
            try:
                data, client = self.sock.recvfrom(65535)
            except socket.timeout:
                continue
            except OSError:
                break
            self.requests.append(data)
            if len(self.requests) <= self.drop:
                continue
            up = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            up.settimeout(5)
            up.sendto(data, self.target)
            try:
                answer = up.recv(65535)
            except socket.timeout:
                up.close()
                continue
            up.close()
            if self.delay and len(self.requests) == 1:
                t = threading.Timer(self.delay, self.sock.sendto, (answer, client))
                t.start()
                timers.append(t)
                self.drop = 1 << 30  # later tries go unanswered: only the late answer can count
            else:
                self.sock.sendto(answer, client)
        for t in timers:
            t.cancel()



class SnmpdTests(unittest.TestCase):
    """Requests against net-snmp's snmpd on a loopback port with its own configuration."""

    @classmethod
    def setUpClass(cls):
        snmpd = need("snmpd")
        cls.dir = tempfile.mkdtemp(prefix="velk-tools-snmpd-")
        conf = os.path.join(cls.dir, "snmpd.conf")
        with open(conf, "w") as f:
            f.write("rocommunity public 127.0.0.1\nrwcommunity private 127.0.0.1\n"
                    "sysLocation Test lab\nsysServices 72\n")
        cls.port = free_port()
        env = dict(os.environ, MIBS="", MIBDIRS=ARGS.mibs)
        cls.snmpd = Process([snmpd, "-f", "-Lf", os.path.join(cls.dir, "snmpd.log"), "-C", "-c", conf,
                             "-p", os.path.join(cls.dir, "snmpd.pid"), "udp:127.0.0.1:%d" % cls.port], env=env)
        if not wait_until(lambda: answers(cls.port)):
            cls.snmpd.stop()
            raise RuntimeError("snmpd did not start: %r" % (cls.snmpd.output(),))
        cls.agent = "127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        cls.snmpd.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def net_snmp(self, program, *args):
        p = subprocess.run([need(program), "-v2c", "-c", "public", "-M", ARGS.mibs, "-m", "", *args],
                           capture_output=True, text=True, timeout=120)
        return p.stdout

    def test_get_reads_values_by_name(self):
        status, out, err = run("get", self.agent, "sysDescr.0", "sysLocation.0", "ifType.1", "sysUpTime.0")
        self.assertEqual(status, 0, err)
        lines = out.splitlines()
        expected = self.net_snmp("snmpget", "-Oqv", self.agent, ".1.3.6.1.2.1.1.1.0").strip()
        self.assertEqual(lines[0], "SNMPv2-MIB::sysDescr.0 = STRING: " + expected)
        self.assertEqual(lines[1], 'SNMPv2-MIB::sysLocation.0 = STRING: "Test lab"')
        self.assertEqual(lines[2], "IF-MIB::ifType.1 = INTEGER: softwareLoopback(24)")
        self.assertRegex(lines[3], r"^SNMPv2-MIB::sysUpTime.0 = Timeticks: \(\d+\) \d+:\d\d:\d\d\.\d\d$")
        status, out, _ = run("get", self.agent, "1.3.6.1.2.1.1.99.0")
        self.assertEqual((status, out), (0, "SNMPv2-MIB::system.99.0 = No Such Object available on this agent at "
                                            "this OID\n"))
        status, _, err = run("get", "-v1", self.agent, "sysDescr.0", "1.3.6.1.2.1.1.99.0")
        self.assertEqual(status, 1)
        self.assertIn("answered noSuchName for SNMPv2-MIB::system.99.0 (variable 2)", one_line_error(self, err))

    def test_walks_match_net_snmp(self):
        for subtree in (".1.3.6.1.2.1.1", ".1.3.6.1.2.1.2"):
            theirs = walk_lines(self.net_snmp("snmpwalk", "-On", "-Oe", self.agent, subtree))
            for flags in ([], ["--next"], ["-v1"], ["-Cr3"]):
                status, out, err = run("walk", "-On", "-Oe", *flags, self.agent, subtree)
                self.assertEqual(status, 0, err)
                with self.subTest(subtree=subtree, flags=flags):
                    compare_walks(self, walk_lines(out), theirs)

    def test_bulk_walk_of_mib2_is_ordered_and_complete(self):
        status, bulk, err = run("walk", "-On", self.agent)
        self.assertEqual(status, 0, err)
        oids = [o for o, _, _ in walk_lines(bulk)]
        self.assertGreater(len(oids), 100)
        keys = [tuple(int(a) for a in o.split(".")) for o in oids]
        self.assertEqual(keys, sorted(set(keys)))
        self.assertTrue(all(o.startswith("1.3.6.1.2.1.") for o in oids))
        status, json_text, _ = run("walk", "--json", self.agent, "system")
        rows = json.loads(json_text)
        self.assertEqual(rows[0]["name"], "SNMPv2-MIB::sysDescr.0")
        self.assertEqual(rows[0]["type"], "OCTET STRING")

    def test_getbulk_and_getnext(self):
        status, out, err = run("getbulk", "-Cn1", "-Cr2", self.agent, "sysUpTime", "ifDescr", "ifType")
        self.assertEqual(status, 0, err)
        names = [line.split(" = ")[0] for line in out.splitlines()]
        self.assertEqual(names, ["SNMPv2-MIB::sysUpTime.0", "IF-MIB::ifDescr.1", "IF-MIB::ifType.1",
                                 "IF-MIB::ifDescr.2", "IF-MIB::ifType.2"][:len(names)])
        status, out, _ = run("getnext", self.agent, "sysDescr.0", "system")
        self.assertEqual([line.split(" = ")[0] for line in out.splitlines()],
                         ["SNMPv2-MIB::sysObjectID.0", "SNMPv2-MIB::sysDescr.0"])

    def test_set_writes_and_reports_refusals(self):
        status, out, err = run("set", "-c", "private", self.agent, "sysContact.0", "s", "ops@example.org",
                               "sysName.0", "=", "velk test")
        self.assertEqual(status, 0, err)
        self.assertEqual(out, 'SNMPv2-MIB::sysContact.0 = STRING: "ops@example.org"\n'
                              'SNMPv2-MIB::sysName.0 = STRING: "velk test"\n')
        self.assertEqual(run("get", "-Oqv", self.agent, "sysContact.0")[1], '"ops@example.org"\n')
        status, _, err = run("set", "-c", "private", self.agent, "sysDescr.0", "s", "x")
        self.assertEqual(status, 1)
        self.assertIn("answered notWritable for SNMPv2-MIB::sysDescr.0 (variable 1)", one_line_error(self, err))

    def test_table_prints_aligned_rows(self):
        status, out, err = run("table", self.agent, "ifTable", "--columns", "ifDescr,ifType,ifMtu")
        self.assertEqual(status, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[0], "IF-MIB::ifTable")
        self.assertRegex(lines[1], r"^index\s+ifDescr\s+ifType\s+ifMtu$")
        rows = int(run("get", "-Oqv", self.agent, "ifNumber.0")[1])
        self.assertEqual(len(lines) - 2, rows)
        self.assertRegex(lines[2], r"^1\s+lo\s+softwareLoopback\(24\)\s+\d+$")
        status, out, _ = run("table", "--json", self.agent, "ifEntry")
        table = json.loads(out)
        self.assertEqual(len(table), rows)
        self.assertEqual(table[0]["ifDescr"]["value"], "lo")

    def test_retries_resend_the_same_request(self):
        proxy = DroppingProxy(self.port, drop=1)
        try:
            status, out, err = run("get", "-t", "0.5", "-r", "1", "127.0.0.1:%d" % proxy.port, "sysLocation.0")
            self.assertEqual(status, 0, err)
            self.assertIn("Test lab", out)
            self.assertEqual(len(proxy.requests), 2)
            self.assertEqual(proxy.requests[0], proxy.requests[1])  # the same request id
        finally:
            proxy.close()
        proxy = DroppingProxy(self.port, drop=1)
        try:
            started = time.time()
            status, _, err = run("get", "-t", "0.5", "-r", "0", "127.0.0.1:%d" % proxy.port, "sysLocation.0")
            self.assertEqual(status, 1)
            self.assertEqual(one_line_error(self, err),
                             "velk-snmp get: no answer from 127.0.0.1:%d after 1 try" % proxy.port)
            self.assertLess(time.time() - started, 5)
        finally:
            proxy.close()

    def test_a_late_answer_to_an_earlier_try_completes_the_request(self):
        proxy = DroppingProxy(self.port, delay=0.8)
        try:
            status, out, err = run("get", "-t", "0.5", "-r", "2", "127.0.0.1:%d" % proxy.port, "sysLocation.0")
            self.assertEqual(status, 0, err)
            self.assertIn("Test lab", out)
            self.assertGreaterEqual(len(proxy.requests), 2)
        finally:
            proxy.close()

    def test_unknown_host(self):
        status, _, err = run("get", "-t", "0.5", "-r", "0", "no-such-host.invalid", "sysDescr.0")
        self.assertEqual(status, 1)
        self.assertEqual(one_line_error(self, err), "velk-snmp get: unknown host no-such-host.invalid")


# ---------------------------------------------------------------------------------------
def start_agent(testcase_cls, extra=()):
    port = free_port()
    agent = Process([ARGS.tool, "agent", "--address", "127.0.0.1", "--port", str(port), "-m", "+VELK-DEMO-MIB",
                     *extra], env=tool_env())
    if not wait_until(lambda: answers(port)):
        agent.stop()
        raise RuntimeError("velk-snmp agent did not start: %r" % (agent.output(),))
    return agent, port


class AgentTests(unittest.TestCase):
    """velk-snmp agent, asked by velk-snmp and by net-snmp's programs."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velk-tools-agent-")
        values = os.path.join(cls.dir, "values")
        with open(values, "w") as f:
            f.write("# values served by the test agent\n"
                    "SNMPv2-MIB::sysLocation.0 = \"test bench\"\n"
                    "1.3.6.1.4.1.32473.99.1.0 s hello from a file\n"
                    "1.3.6.1.4.1.32473.99.2.0 i -42\n")
        cls.agent, cls.port = start_agent(cls, ["--value", "sysContact.0=tester@example.org", "--values", values])
        cls.address = "127.0.0.1:%d" % cls.port

    @classmethod
    def tearDownClass(cls):
        status = cls.agent.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)
        assert status == 0, cls.agent.output()

    def test_get_serves_the_system_group_and_given_values(self):
        status, out, err = run("get", "-m", "+VELK-DEMO-MIB", self.address, "sysContact.0", "sysLocation.0",
                               "sysServices.0", "sysObjectID.0", "1.3.6.1.4.1.32473.99.1.0",
                               "1.3.6.1.4.1.32473.99.2.0", "velkAgentVersion.0")
        self.assertEqual(status, 0, err)
        self.assertEqual(out.splitlines(), [
            'SNMPv2-MIB::sysContact.0 = STRING: "tester@example.org"',
            'SNMPv2-MIB::sysLocation.0 = STRING: "test bench"',
            "SNMPv2-MIB::sysServices.0 = INTEGER: 72",
            "SNMPv2-MIB::sysObjectID.0 = OID: VELK-DEMO-MIB::velkSnmpAgent",
            'VELK-DEMO-MIB::velkExample.99.1.0 = STRING: "hello from a file"',
            "VELK-DEMO-MIB::velkExample.99.2.0 = INTEGER: -42",
            'VELK-DEMO-MIB::velkAgentVersion.0 = STRING: "velk-snmp 1.0.0"'])
        status, out, _ = run("get", self.address, "sysDescr.0", "sysDescr", "ifDescr.999")
        lines = out.splitlines()
        self.assertIn("Linux", lines[0])
        self.assertEqual(lines[1], "SNMPv2-MIB::sysDescr = No Such Instance currently exists at this OID")
        self.assertEqual(lines[2], "IF-MIB::ifDescr.999 = No Such Object available on this agent at this OID")
        status, _, err = run("get", "-v1", self.address, "sysDescr.0", "ifDescr.999")
        self.assertEqual(status, 1)
        self.assertIn("answered noSuchName for IF-MIB::ifDescr.999 (variable 2)", one_line_error(self, err))

    def test_interfaces_come_from_this_machine(self):
        names = sorted(os.listdir("/sys/class/net"))
        status, out, err = run("table", "--json", self.address, "ifTable")
        self.assertEqual(status, 0, err)
        rows = json.loads(out)
        self.assertEqual(sorted(r["ifDescr"]["value"] for r in rows), names)
        self.assertEqual(int(run("get", "-Oqv", self.address, "ifNumber.0")[1]), len(names))
        for r in rows:
            self.assertEqual(r["index"], str(r["ifIndex"]["value"]))

    def test_walks_agree_with_net_snmp(self):
        volatile = ("1.3.6.1.4.1.32473.1.1.10.0",)  # the clock
        for program in ("snmpwalk", "snmpbulkwalk"):
            theirs = subprocess.run([need(program), "-v2c", "-c", "public", "-On", "-Oe", "-M", ARGS.mibs, "-m", "",
                                     self.address, ".1"], capture_output=True, text=True, timeout=60).stdout
            status, ours, err = run("walk", "-On", "-Oe", self.address, ".1")
            self.assertEqual(status, 0, err)
            with self.subTest(program=program):
                compare_walks(self, walk_lines(ours), walk_lines(theirs), volatile)
        status, bulk, _ = run("walk", "-On", self.address, ".1")
        status, nxt, _ = run("walk", "-On", "--next", self.address, ".1")
        status, v1, _ = run("walk", "-On", "-v1", self.address, ".1")
        self.assertEqual([o for o, _, _ in walk_lines(bulk)], [o for o, _, _ in walk_lines(nxt)])
        self.assertEqual([o for o, _, _ in walk_lines(v1)],
                         [o for o, k, _ in walk_lines(bulk) if k != "Counter64"])

    def test_getbulk_is_answered_row_by_row(self):
        theirs = subprocess.run([need("snmpbulkget"), "-v2c", "-c", "public", "-On", "-M", ARGS.mibs, "-m", "",
                                 "-Cn1", "-Cr3", self.address, ".1.3.6.1.2.1.1.3", ".1.3.6.1.2.1.2.2.1.2",
                                 ".1.3.6.1.2.1.2.2.1.3"], capture_output=True, text=True, timeout=30).stdout
        # The expected answer, from the agent's MIB as a walk sees it.
        key = lambda o: [int(a) for a in o.split(".")]
        served = [o for o, _, _ in walk_lines(run("walk", "-On", self.address, ".1")[1])]
        successor = lambda o: next(x for x in served if key(x) > key(o))
        expected, cursors = [successor("1.3.6.1.2.1.1.3")], ["1.3.6.1.2.1.2.2.1.2", "1.3.6.1.2.1.2.2.1.3"]
        for _ in range(3):
            cursors = [successor(c) for c in cursors]
            expected += cursors
        self.assertEqual([o for o, _, _ in walk_lines(theirs)], expected)
        # Past the end of the MIB every repeater gets endOfMibView.
        status, out, err = run("getbulk", "-On", "-Cr2", self.address, served[-1])
        self.assertEqual(status, 0, err)
        self.assertIn("No more variables left in this MIB View", out)

    def test_set_changes_writable_objects_only(self):
        status, out, err = run("set", "-m", "+VELK-DEMO-MIB", self.address, "velkMessage.0", "s", "changed")
        self.assertEqual((status, out), (0, 'VELK-DEMO-MIB::velkMessage.0 = STRING: "changed"\n'), err)
        self.assertEqual(run("get", "-m", "+VELK-DEMO-MIB", "-Oqv", self.address, "velkMessage.0")[1],
                         '"changed"\n')
        status, _, err = run("set", self.address, "sysDescr.0", "s", "x")
        self.assertEqual(status, 1)
        self.assertIn("answered readOnly for SNMPv2-MIB::sysDescr.0", one_line_error(self, err))
        status, _, err = run("set", self.address, "sysName.0", "i", "5")
        self.assertEqual(status, 1)
        self.assertIn("answered wrongType", one_line_error(self, err))

    def test_wrong_community_gets_no_answer(self):
        status, _, err = run("get", "-c", "wrong", "-t", "0.4", "-r", "1", self.address, "sysName.0")
        self.assertEqual(status, 1)
        self.assertEqual(one_line_error(self, err), "velk-snmp get: no answer from %s after 2 tries" % self.address)
        status, _, _ = run("walk", "-c", "wrong", "-t", "0.4", "-r", "0", self.address, "system")
        self.assertEqual(status, 1)


# ---------------------------------------------------------------------------------------
class NotificationTests(unittest.TestCase):
    """trap and inform into velk-snmp listen and snmptrapd; net-snmp's snmptrap into listen."""

    def listen(self, count, *extra):
        port = free_port()
        p = Process([ARGS.tool, "listen", "--json", "--address", "127.0.0.1", "--port", str(port), "--count",
                     str(count), "--timeout", "30", "-m", "+VELK-DEMO-MIB", *extra], env=tool_env())
        wait_until(lambda: "listening" in p.output()[1], 10)
        return p, port

    def received(self, p):
        p.p.wait(40)
        out, err = p.output()
        self.assertEqual(p.p.returncode, 0, err)
        return [json.loads(line) for line in out.splitlines()]

    def test_traps_and_informs_into_listen(self):
        p, port = self.listen(3)
        to = "127.0.0.1:%d" % port
        self.assertEqual(run("trap", to, "1234", "IF-MIB::linkDown", "ifIndex.2", "i", "2", "ifOperStatus.2", "=",
                             "down")[0], 0)
        self.assertEqual(run("trap", "-m", "+VELK-DEMO-MIB", "-v", "1", "-c", "v1c", to, "1.3.6.1.4.1.32473", "10.1.2.3", "6", "17", "99",
                             "velkMessage.0", "s", "v1 here")[0], 0)
        status, _, err = run("inform", "-m", "+VELK-DEMO-MIB", to, "", "VELK-DEMO-MIB::velkHeartbeat", "velkMessage.0",
                             "s", "hi")
        self.assertEqual(status, 0, err)
        trap, v1, inform = self.received(p)
        self.assertEqual((trap["version"], trap["type"], trap["notificationName"]), ("2c", "trap", "IF-MIB::linkDown"))
        self.assertEqual([v["name"] for v in trap["variables"]],
                         ["SNMPv2-MIB::sysUpTime.0", "SNMPv2-MIB::snmpTrapOID.0", "IF-MIB::ifIndex.2",
                          "IF-MIB::ifOperStatus.2"])
        self.assertEqual(trap["variables"][0]["value"], 1234)
        self.assertEqual(trap["variables"][3]["label"], "down")
        self.assertEqual((v1["version"], v1["community"], v1["enterprise"], v1["agentAddress"]),
                         ("1", "v1c", "1.3.6.1.4.1.32473", "10.1.2.3"))
        self.assertEqual((v1["genericTrap"], v1["specificTrap"], v1["uptime"]), (6, 17, 99))
        self.assertEqual(inform["type"], "inform")
        self.assertEqual(inform["variables"][2]["value"], "hi")

    def test_inform_without_a_receiver_fails(self):
        started = time.time()
        status, _, err = run("inform", "-t", "0.3", "-r", "1", "127.0.0.1:%d" % free_port(), "", "coldStart")
        self.assertEqual(status, 1)
        self.assertRegex(one_line_error(self, err), r"no answer from 127\.0\.0\.1:\d+ after 2 tries$")
        self.assertLess(time.time() - started, 5)

    def test_listen_ends_after_its_time_out_and_filters_communities(self):
        p, port = self.listen(1, "-c", "secret")
        run("trap", "-c", "other", "127.0.0.1:%d" % port, "1", "coldStart")
        run("trap", "-c", "secret", "127.0.0.1:%d" % port, "2", "warmStart")
        (only,) = self.received(p)
        self.assertEqual(only["notificationName"], "SNMPv2-MIB::warmStart")
        self.assertIn('ignored a notification from 127.0.0.1', p.output()[1])
        port = free_port()
        status, _, err = run("listen", "--port", str(port), "--address", "127.0.0.1", "--count", "1", "--timeout",
                             "0.5")
        self.assertEqual(status, 1)
        self.assertIn("received 0 of 1 notifications before the time-out", err)

    def test_a_port_in_use_is_reported(self):
        p, port = self.listen(1)
        for argv in (["listen", "--timeout", "1"], ["agent"]):
            status, _, err = run(*argv, "--address", "127.0.0.1", "--port", str(port))
            self.assertEqual(status, 1)
            self.assertEqual(one_line_error(self, err),
                             "velk-snmp %s: cannot %s on 127.0.0.1:%d: the port is in use" %
                             (argv[0], "listen" if argv[0] == "listen" else "open the agent", port))
        run("trap", "127.0.0.1:%d" % port, "1", "coldStart")
        self.received(p)

    def test_agent_announces_itself_with_cold_start_and_heartbeats(self):
        p, port = self.listen(2)
        agent, _ = start_agent(self, ["--trap-dest", "127.0.0.1:%d" % port, "--heartbeat", "1"])
        try:
            cold, beat = self.received(p)
        finally:
            self.assertEqual(agent.stop(), 0)
        self.assertEqual((cold["version"], cold["genericTrap"], cold["enterprise"]), ("1", 0, "1.3.6.1.4.1"))
        self.assertEqual(beat["notificationName"], "VELK-DEMO-MIB::velkHeartbeat")
        self.assertIn("agent stopped", agent.output()[1])

    def test_net_snmp_traps_into_listen(self):
        snmptrap = need("snmptrap")
        p, port = self.listen(2)
        to = "127.0.0.1:%d" % port
        base = [snmptrap, "-M", ARGS.mibs, "-m", "", "-c", "public"]
        subprocess.run(base + ["-v2c", to, "42", ".1.3.6.1.6.3.1.1.5.4", ".1.3.6.1.2.1.2.2.1.1.3", "i", "3"],
                       check=True, timeout=20)
        subprocess.run(base + ["-v1", to, ".1.3.6.1.4.1.8072", "127.0.0.1", "3", "0", "77"], check=True, timeout=20)
        v2, v1 = self.received(p)
        self.assertEqual(v2["notificationName"], "IF-MIB::linkUp")
        self.assertEqual(v2["variables"][2], {"oid": "1.3.6.1.2.1.2.2.1.1.3", "name": "IF-MIB::ifIndex.3",
                                              "type": "INTEGER", "value": 3})
        self.assertEqual((v1["genericTrap"], v1["uptime"]), (3, 77))

    def test_traps_and_informs_into_snmptrapd(self):
        snmptrapd = need("snmptrapd")
        d = tempfile.mkdtemp(prefix="velk-tools-trapd-")
        try:
            conf = os.path.join(d, "snmptrapd.conf")
            with open(conf, "w") as f:
                f.write("disableAuthorization yes\n")
            port = free_port()
            log = os.path.join(d, "traps.log")
            trapd = Process([snmptrapd, "-f", "-C", "-c", conf, "-On", "-Lf", log, "-M", ARGS.mibs, "-m", "",
                             "-p", os.path.join(d, "pid"), "udp:127.0.0.1:%d" % port])
            try:
                wait_until(lambda: os.path.exists(log) and "NET-SNMP version" in open(log).read(), 10)
                to = "127.0.0.1:%d" % port
                self.assertEqual(run("trap", "-m", "+VELK-DEMO-MIB", to, "555", "1.3.6.1.4.1.32473.1.0.1",
                                     "velkMessage.0", "s", "to snmptrapd")[0], 0)
                self.assertEqual(run("trap", "-v", "1", to, "1.3.6.1.4.1.32473", "10.9.8.7", "6", "5", "66")[0], 0)
                status, _, err = run("inform", "-t", "2", to, "777", "1.3.6.1.6.3.1.1.5.1")
                self.assertEqual(status, 0, err)
                self.assertTrue(wait_until(lambda: open(log).read().count("1.3.6.1") >= 3, 10))
                text = open(log).read()
            finally:
                trapd.stop()
            self.assertIn(".1.3.6.1.4.1.32473.1.0.1", text)
            self.assertIn('"to snmptrapd"', text)
            self.assertIn("10.9.8.7", text)
            self.assertIn(".1.3.6.1.6.3.1.1.5.1", text)
        finally:
            shutil.rmtree(d, ignore_errors=True)


GROUPS = {
    "usage": [UsageTests],
    "mib": [MibTests],
    "decode": [DecodeTests, WalkTests],
    "snmpd": [SnmpdTests],
    "agent": [AgentTests],
    "notify": [NotificationTests],
}


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--mibs", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--group", choices=sorted(GROUPS), required=True)
    parser.add_argument("rest", nargs="*")
    ARGS = parser.parse_args()
    ARGS.tool = os.path.abspath(ARGS.tool)
    ARGS.mibs = os.path.abspath(ARGS.mibs)
    if not os.path.isdir(ARGS.mibs):
        print("skipped: the MIB corpus %s is missing" % ARGS.mibs)
        return SKIPPED
    suite = unittest.TestSuite()
    loader = unittest.TestLoader()
    for cls in GROUPS[ARGS.group]:
        suite.addTests(loader.loadTestsFromTestCase(cls) if not ARGS.rest else
                       [cls(name) for name in ARGS.rest])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # Every test skipped (a class whose peer is missing skips as a whole).
    if result.skipped and len(result.skipped) >= result.testsRun:
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
