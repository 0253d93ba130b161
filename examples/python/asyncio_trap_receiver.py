#!/usr/bin/env python3
"""Receives traps inside an asyncio program.

    python3 asyncio_trap_receiver.py [--port 1162] [--address 127.0.0.1] [--count N]

The Manager's socket, its events and the message loop run in the asyncio loop through
velksnmp.asyncio_attach(); there is no thread. Send a trap with net-snmp's snmptrap:

    snmptrap -v2c -c public 127.0.0.1:1162 '' 1.3.6.1.6.3.1.1.5.3 ifIndex.1 i 1
"""
import argparse
import asyncio
import sys

import velksnmp


class TrapEvents:
    """Events of the Manager control; self is the manager."""

    def OnTrap(self):
        msg = self.Message
        if msg.Type == velksnmp.snmpTrap1:
            head = (f"v1 trap from {self.AgentName}: enterprise {msg.Enterprise} "
                    f"generic {msg.GenericTrap} specific {msg.SpecificTrap} uptime {msg.UpTime}")
        else:
            head = f"v2 trap from {self.AgentName}"
        lines = [head] + [f"  {v.Oid} = {v.Value}" for v in msg.Variables]
        self.traps.put_nowait("\n".join(lines))

    def OnError(self, number, description):
        print(f"undecodable datagram: {description} ({number})", file=sys.stderr)


async def receive(port, address, count):
    with velksnmp.asyncio_attach():
        manager = velksnmp.DispatchWithEvents("Velk.Manager", TrapEvents)
        manager.traps = asyncio.Queue()
        manager.Timeout = 0  # never block the asyncio loop
        manager.Open(port, address)
        print(f"waiting for traps on {address}:{manager.LocalPort}", flush=True)
        received = 0
        try:
            while count is None or received < count:
                print(await manager.traps.get(), flush=True)
                received += 1
        finally:
            manager.Close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=1162)
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--count", type=int, help="stop after this many traps")
    args = parser.parse_args()
    try:
        asyncio.run(receive(args.port, args.address, args.count))
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
