"""The examples, run as scripts against each other over loopback."""
import os
import re
import shutil
import subprocess
import sys

import pytest

import velksnmp

from conftest import require

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "python")
LOOPBACK = "127.0.0.1"


def run(name, *args):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), *args],
                          capture_output=True, text=True, timeout=60)


def start(name, *args):
    """Starts a server example; returns the process and the port it announces."""
    proc = subprocess.Popen([sys.executable, os.path.join(EXAMPLES, name), *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = proc.stdout.readline().strip()
    match = re.search(r":(\d+)$", line)
    if not match:
        proc.kill()
        pytest.fail(f"{name} did not start: {line}\n{proc.stderr.read()}")
    return proc, int(match.group(1))


@pytest.fixture
def agent_port(mibs_dir):
    require("Velk.Agent", "Velk.Manager", "Velk.SnmpMib", "Velk.SnmpMessage")
    proc, port = start("agent_getnext.py", "--port", "0", "--mibs", mibs_dir, "--seconds", "120")
    yield port
    proc.terminate()
    proc.wait(10)


def test_walk_example_walks_the_agent_example(agent_port):
    for version in ([], ["--v1"]):
        out = run("walk.py", LOOPBACK, "1.3.6.1.2.1.1", "--port", str(agent_port), *version)
        assert out.returncode == 0, out.stderr
        lines = out.stdout.splitlines()
        assert [line.split(" ")[0] for line in lines] == [f"1.3.6.1.2.1.1.{i}.0" for i in range(1, 8)]
        assert lines[0].endswith("Velk SNMP example agent (Python)")


def test_agent_variable_example_sets_and_gets(agent_port):
    out = run("agent_variable.py", LOOPBACK, "1.3.6.1.2.1.1.5.0", "renamed", "--port", str(agent_port))
    assert out.returncode == 0, out.stderr
    assert "1.3.6.1.2.1.1.5.0 = renamed" in out.stdout
    missing = run("agent_variable.py", LOOPBACK, "1.3.6.1.2.1.1.99.0", "--port", str(agent_port))
    assert missing.returncode == 1 and f"error {velksnmp.ulOperationRefused}" in missing.stderr


@pytest.mark.skipif(not shutil.which("snmpwalk"), reason="net-snmp's snmpwalk is not installed")
def test_agent_example_answers_a_real_manager(agent_port):
    # A foreign program: without the sanitizer runtime that a sanitized build preloads.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    out = subprocess.run(["snmpwalk", "-v2c", "-c", "public", "-On", "-t", "2", "-r", "1",
                          f"{LOOPBACK}:{agent_port}", "1.3.6.1.2.1.1"],
                         capture_output=True, text=True, timeout=60, env=env)
    assert out.returncode == 0, out.stderr
    oids = [line.split(" ")[0] for line in out.stdout.splitlines() if "No more variables" not in line]
    assert oids == [f".1.3.6.1.2.1.1.{i}.0" for i in range(1, 8)]


def test_asyncio_trap_receiver_example():
    require("Velk.Agent", "Velk.Manager", "Velk.SnmpMessage")
    proc, port = start("asyncio_trap_receiver.py", "--port", "0", "--count", "1")
    agent = velksnmp.Dispatch("Velk.Agent")
    try:
        agent.TrapManagers.Add(f"{LOOPBACK}:{port}", 0)
        agent.Open(0, LOOPBACK)  # with Auto, Open announces the agent with a coldStart trap
        out, err = proc.communicate(timeout=30)
    finally:
        agent.Close()
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == 0, err
    assert f"v1 trap from {LOOPBACK}: enterprise 1.3.6.1.4.1 generic 0 specific 0" in out
