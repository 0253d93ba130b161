#!/usr/bin/env python3
"""Walks a subtree of an agent's MIB with GetNext requests.

    python3 walk.py HOST [ROOT] [--port 161] [--community public] [--v1]

The Manager waits for each response (Timeout above 0), so the walk is a plain loop.
"""
import argparse
import sys

import velksnmp


def oid_key(oid):
    return tuple(int(arc) for arc in oid.split(".") if arc)


def walk(manager, root, community, version1=False):
    """Yields the variables under `root`, in the agent's order."""
    msg = manager.Message
    oid = root
    request_id = 1
    while True:
        msg.Reset()
        msg.Type = velksnmp.snmpGetNext1 if version1 else velksnmp.snmpGetNext2
        msg.Community = community
        msg.Id = request_id
        request_id += 1
        var = velksnmp.Dispatch("Velk.SnmpVariable")
        var.Oid = oid
        msg.Variables.Add(var)
        manager.Send()  # returns once the response is in msg
        if msg.Exception != velksnmp.snmpOk or len(msg.Variables) == 0:
            return  # noSuchName ends a version 1 walk
        var = msg.Variables[1]
        if var.Exception != velksnmp.snmpNoException:
            return  # endOfMibView
        if oid_key(var.Oid)[:len(oid_key(root))] != oid_key(root) or oid_key(var.Oid) <= oid_key(oid):
            return  # left the subtree (or the agent did not advance)
        yield var
        oid = var.Oid


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("root", nargs="?", default="1.3.6.1.2.1.1")
    parser.add_argument("--port", type=int, default=161)
    parser.add_argument("--community", default="public")
    parser.add_argument("--v1", action="store_true", help="send version 1 requests")
    parser.add_argument("--timeout", type=int, default=2000, help="milliseconds per request")
    args = parser.parse_args()

    manager = velksnmp.Dispatch("Velk.Manager")
    manager.AgentName = args.host
    manager.AgentPort = args.port
    manager.Timeout = args.timeout
    manager.Open(0, "")
    types = velksnmp.VariableTypeConstants
    try:
        for var in walk(manager, args.root, args.community, args.v1):
            print(f"{var.Oid} = {types(var.Type).name[4:]}: {var.Value}")
    except velksnmp.Error as e:
        print(f"walk failed: {e} ({e.number})", file=sys.stderr)
        return 1
    finally:
        manager.Close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
