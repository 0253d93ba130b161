#!/usr/bin/env python3
"""Costs of the Python binding.

    PYTHONPATH=<build>/python python3 python/bench/bench_binding.py [--quick]

1. Late binding per call: property get and put, method calls, the default member, len().
2. W1 (an SNMPv2c GetResponse with 10 variables of every common type) encoded and decoded
   from Python: velksnmp.SnmpMessage beside Debian's python3-pysnmp4 doing the same work
   (build the message from Python values, encode it, decode the bytes into objects).
Figures are the median of several runs of the process's CPU time (steadier than wall time
on a shared machine), in microseconds or nanoseconds per operation.
"""
import argparse
import statistics
import sys
import time
import timeit

import velksnmp

W1 = [  # (oid, VariableTypeConstants name, value text)
    ("1.3.6.1.2.1.1.1.0", "snmpOctetString", "A" * 40),
    ("1.3.6.1.2.1.1.2.0", "snmpObjectID", "1.3.6.1.4.1.8072.3.2.10"),
    ("1.3.6.1.2.1.1.3.0", "snmpTimeTicks", "123456789"),
    ("1.3.6.1.2.1.1.5.0", "snmpOctetString", "host.example.org"),
    ("1.3.6.1.2.1.2.2.1.10.1", "snmpCounter32", "4000000000"),
    ("1.3.6.1.2.1.2.2.1.5.1", "snmpGuage32", "1000000000"),
    ("1.3.6.1.2.1.2.2.1.8.1", "snmpInteger", "1"),
    ("1.3.6.1.2.1.4.20.1.1.10.0.0.1", "snmpIpAddress", "10.0.0.1"),
    ("1.3.6.1.2.1.31.1.1.1.6.1", "snmpCounter64", "18446744073709551615"),
    ("1.3.6.1.2.1.1.7.0", "snmpInteger", "72"),
]


def median_time(fn, number, repeat):
    """Median seconds per call of fn over `repeat` runs of `number` calls."""
    runs = timeit.repeat(fn, number=number, repeat=repeat, timer=time.process_time)
    return statistics.median(runs) / number


def late_binding(number, repeat):
    strings = velksnmp.Dispatch("Velk.Strings")
    strings.Add("public", 0)
    var = velksnmp.Dispatch("Velk.SnmpVariable")
    var.Oid = "1.3.6.1.2.1.1.1.0"
    col = velksnmp.Dispatch("Velk.SnmpVariables")
    col.Add(var)

    class Plain:  # a Python attribute read, for scale
        Oid = "1.3.6.1.2.1.1.1.0"

    plain = Plain()
    cases = [
        ("python attribute (reference)", lambda: plain.Oid),
        ("property get (str)", lambda: var.Oid),
        ("property get (int)", lambda: var.Type),
        ("property put (str)", lambda: setattr(var, "Oid", "1.3.6.1.2.1.1.1.0")),
        ("method call, 1 argument", lambda: strings.Find("pub")),
        ("method call, object result", lambda: col.Item(1)),
        ("default member obj[i]", lambda: strings[1]),
        ("len() from Count", lambda: len(strings)),
    ]
    print("Late binding (ns per call):")
    for name, fn in cases:
        print(f"  {name:32s} {median_time(fn, number, repeat) * 1e9:9.0f}")


def velk_round_trip(reuse=False):
    """W1 built from Python values, encoded and decoded. With `reuse` the message object is
    reset and built again (as a script reuses a control's Message), else made anew."""
    types = velksnmp.VariableTypeConstants
    decoded = velksnmp.Dispatch("Velk.SnmpMessage")
    dispatch = velksnmp.Dispatch
    kept = dispatch("Velk.SnmpMessage")

    def run():
        if reuse:
            msg = kept
            msg.Reset()
        else:
            msg = dispatch("Velk.SnmpMessage")
        msg.Type = velksnmp.snmpResponse2
        msg.Community = "public"
        msg.Id = 12345
        variables = msg.Variables
        for oid, type_name, value in W1:
            var = dispatch("Velk.SnmpVariable")
            var.Oid = oid
            var.Type = types[type_name]
            var.Value = value
            variables.Add(var)
        data = msg.Encode()
        decoded.Decode(data)
        return data

    return run


def velk_codec_only():
    """Encode of a prepared message and decode of its bytes: the codec from Python."""
    prepared = velksnmp.Dispatch("Velk.SnmpMessage")
    prepared.Type = velksnmp.snmpResponse2
    prepared.Community = "public"
    prepared.Id = 12345
    types = velksnmp.VariableTypeConstants
    for oid, type_name, value in W1:
        var = velksnmp.Dispatch("Velk.SnmpVariable")
        var.Oid = oid
        var.Type = types[type_name]
        var.Value = value
        prepared.Variables.Add(var)
    decoded = velksnmp.Dispatch("Velk.SnmpMessage")

    def run():
        decoded.Decode(prepared.Encode())

    return run


def pysnmp_round_trip():
    from pyasn1.codec.ber import decoder, encoder
    from pysnmp.proto import api

    p = api.protoModules[api.protoVersion2c]
    makers = {
        "snmpOctetString": p.OctetString, "snmpObjectID": p.ObjectIdentifier,
        "snmpTimeTicks": p.TimeTicks, "snmpCounter32": p.Counter32, "snmpGuage32": p.Gauge32,
        "snmpInteger": p.Integer, "snmpIpAddress": p.IpAddress, "snmpCounter64": p.Counter64,
    }
    numeric = {"snmpTimeTicks", "snmpCounter32", "snmpGuage32", "snmpInteger", "snmpCounter64"}

    def run():
        pdu = p.GetResponsePDU()
        p.apiPDU.setDefaults(pdu)
        p.apiPDU.setRequestID(pdu, 12345)
        p.apiPDU.setVarBinds(pdu, [
            (oid, makers[t](int(v) if t in numeric else v)) for oid, t, v in W1])
        msg = p.Message()
        p.apiMessage.setDefaults(msg)
        p.apiMessage.setCommunity(msg, "public")
        p.apiMessage.setPDU(msg, pdu)
        data = encoder.encode(msg)
        back, _ = decoder.decode(data, asn1Spec=p.Message())
        p.apiPDU.getVarBinds(p.apiMessage.getPDU(back))
        return data

    return run


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer repetitions")
    args = parser.parse_args()
    number, repeat = (20000, 3) if args.quick else (200000, 7)
    late_binding(number, repeat)

    registered = {c.progid for c in velksnmp.classes() if c.registered}
    if "Velk.SnmpMessage" not in registered:
        print("\nW1: Velk.SnmpMessage is not registered yet; skipped")
        return 0
    velk = velk_round_trip()
    velk_bytes = velk()
    n = max(200, number // 100)
    velk_time = median_time(velk, n, repeat)
    reuse_time = median_time(velk_round_trip(reuse=True), n, repeat)
    codec_time = median_time(velk_codec_only(), n * 5, repeat)
    print("\nW1 from Python (us per message):")
    print(f"  velksnmp build + encode + decode {velk_time * 1e6:9.1f}  (a new message object each time)")
    print(f"  velksnmp build + encode + decode {reuse_time * 1e6:9.1f}  (one message object, Reset)")
    print(f"  velksnmp encode + decode         {codec_time * 1e6:9.1f}  (prepared message)")
    try:
        ref = pysnmp_round_trip()
    except ImportError:
        print("  python3-pysnmp4 is not installed; no reference")
        return 0
    ref_bytes = ref()
    ref_time = median_time(ref, max(20, n // 20), repeat)
    print(f"  pysnmp build + encode + decode   {ref_time * 1e6:9.1f}")
    print(f"  speed-up                         {ref_time / velk_time:9.1f}x  (new message object)")
    print(f"  speed-up                         {ref_time / reuse_time:9.1f}x  (message reset)")
    if bytes(ref_bytes) != velk_bytes:
        print("  note: the two encodings differ", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
