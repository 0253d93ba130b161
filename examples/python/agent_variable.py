#!/usr/bin/env python3
"""Reads one variable of an agent, and sets it when a value is given.

    python3 agent_variable.py HOST OID [VALUE] [--port 161] [--community public]

AgentVariable is a parameterized property: reading manager.AgentVariable(oid) sends a
GetRequest and waits for the answer; manager.AgentVariable[oid] = variable sends a
SetRequest. Both fail with velksnmp.Error (ulOperationRefused) when the agent answers
with an error status, and with ulTimeout when it does not answer.
"""
import argparse
import sys

import velksnmp


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("oid")
    parser.add_argument("value", nargs="?")
    parser.add_argument("--port", type=int, default=161)
    parser.add_argument("--community", default="public")
    parser.add_argument("--timeout", type=int, default=2000)
    args = parser.parse_args()

    manager = velksnmp.Dispatch("Velk.Manager")
    manager.AgentName = args.host
    manager.AgentPort = args.port
    manager.Timeout = args.timeout
    manager.Message.Community = args.community
    manager.Open(0, "")
    try:
        if args.value is not None:
            var = velksnmp.Dispatch("Velk.SnmpVariable")
            var.Type = velksnmp.snmpOctetString
            var.Value = args.value
            manager.Message.Variables.Clear()  # the request carries this variable alone
            manager.AgentVariable[args.oid] = var
            print(f"set {args.oid} to {args.value!r}")
        manager.Message.Variables.Clear()
        var = manager.AgentVariable(args.oid)
        print(f"{var.Oid} = {var.Value}")
    except velksnmp.Error as e:
        print(f"failed: {e} (error {e.number})", file=sys.stderr)
        return 1
    finally:
        manager.Close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
