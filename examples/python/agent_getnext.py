#!/usr/bin/env python3
"""An agent that serves the system group of a compiled MIB.

    python3 agent_getnext.py [--port 1161] [--address 127.0.0.1] [--mibs DIR] [--seconds N]

Get and Set requests are answered by the Agent itself from its Mib (Auto); GetNext is
answered here, in the Request event. Try it with net-snmp's tools:

    snmpwalk -v2c -c public 127.0.0.1:1161 system
    snmpset -v2c -c public 127.0.0.1:1161 SNMPv2-MIB::sysName.0 s newname
"""
import argparse
import os
import sys
import time

import velksnmp

MODULES = ("SNMPv2-SMI", "SNMPv2-TC", "SNMPv2-CONF", "SNMPv2-MIB")

# The scalars served, by MIB name; sysUpTime is the agent's own uptime.
SYSTEM = {
    "sysDescr": (velksnmp.snmpOctetString, "Velk SNMP example agent (Python)"),
    "sysObjectID": (velksnmp.snmpObjectID, "1.3.6.1.4.1.8072.3.2.10"),
    "sysUpTime": (velksnmp.snmpTimeTicks, "0"),
    "sysContact": (velksnmp.snmpOctetString, "admin@example.org"),
    "sysName": (velksnmp.snmpOctetString, "example"),
    "sysLocation": (velksnmp.snmpOctetString, "server room"),
    "sysServices": (velksnmp.snmpInteger, "72"),
}


def oid_key(oid):
    return tuple(int(arc) for arc in oid.split(".") if arc)


def mib_files(folder):
    names = os.listdir(folder)
    for module in MODULES:
        match = [n for n in names if n == module or n.startswith(module + ".")]
        if not match:
            sys.exit(f"{module} not found in {folder}")
        yield os.path.join(folder, match[0])


class AgentEvents:
    """Events of the Agent control; self is the agent."""

    def serve(self, mib):
        self.served = []
        for name, (type_, value) in SYSTEM.items():
            var = mib.Variables[name]  # a text index finds a MIB variable by OID or name
            var.Type = type_
            var.Value = value
            self.served.append(var)
        self.served.sort(key=lambda v: oid_key(v.Oid))
        self.uptime = mib.Variables["sysUpTime"]

    def next_instance(self, oid):
        """The served scalar whose instance (OID.0) follows `oid`, or None."""
        key = oid_key(oid)
        return next((v for v in self.served if oid_key(v.Oid) + (0,) > key), None)

    def OnRequest(self):
        msg = self.Message
        self.uptime.Value = str(self.AgentUptime & 0xFFFFFFFF)
        if msg.Type not in (velksnmp.snmpGetNext1, velksnmp.snmpGetNext2):
            return  # Get and Set: the agent answers from its Mib after this event
        if msg.Community != self.Community:
            return  # not ours: no answer
        version1 = bool(msg.Type & velksnmp.snmp1)
        for index, var in enumerate(msg.Variables, start=1):
            found = self.next_instance(var.Oid)
            if found is None:
                if version1:
                    msg.Exception = velksnmp.snmpNoSuchName
                    msg.ExceptionIndex = index
                    break
                var.Exception = velksnmp.snmpEndOfMibView
                continue
            var.Oid = found.Oid + ".0"
            var.Type = found.Type
            var.Value = found.Value
        msg.Type = velksnmp.snmpResponse1 if version1 else velksnmp.snmpResponse2
        self.Send()

    def OnError(self, number, description):
        print(f"error {number}: {description}", file=sys.stderr)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=1161)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--community", default="public")
    parser.add_argument("--mibs", default=os.environ.get("VELK_MIBS_DIR",
                                                         os.path.join(here, "..", "..", "..", "shared", "mibs")))
    parser.add_argument("--seconds", type=float, help="stop after this long (default: Ctrl-C)")
    args = parser.parse_args()

    agent = velksnmp.DispatchWithEvents("Velk.Agent", AgentEvents)
    files = velksnmp.Dispatch("Velk.Strings")
    for path in mib_files(args.mibs):
        files.Add(path, 0)
    agent.Mib.Compile(files)
    agent.serve(agent.Mib)
    agent.Community = args.community
    agent.Open(args.port, args.address)
    print(f"listening on {args.address}:{agent.LocalPort}", flush=True)
    deadline = time.monotonic() + args.seconds if args.seconds else None
    try:
        while deadline is None or time.monotonic() < deadline:
            velksnmp.wait_message(200)
    except KeyboardInterrupt:
        pass
    finally:
        agent.Close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
