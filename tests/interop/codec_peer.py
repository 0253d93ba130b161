#!/usr/bin/python3
"""An independent SNMP v1/v2c codec for the interoperability tests: pyasn1's BER codec with
pysnmp's SNMP types, over a message schema that also admits NsapAddress and UInteger32.

    codec_peer.py decode   < lines of hex messages   > one description per line
    codec_peer.py encode   < one description per line > lines of hex messages

A description is one line of space-separated fields:
    v=<0|1> c=<community hex or -> pdu=<0..7> id=<int> s=<int> i=<int> vb=<oid>,<kind>,<value> ...
and for a version-1 trap (pdu=4), in place of id, s and i:
    ent=<oid or -> addr=<dotted> g=<int> sp=<int> t=<uint>
Kinds: integer octets null oid ip counter32 gauge32 timeticks opaque nsap counter64
uinteger32 nosuchobject nosuchinstance endofmibview; byte values are hex ("-" when empty),
numbers decimal, null and exceptions "-". A line that does not decode gives "error ...".
"""
import sys

from pyasn1.codec.ber import decoder, encoder
from pyasn1.type import namedtype, tag, univ
from pysnmp.proto import rfc1902, rfc1905


class NsapAddress(univ.OctetString):
    tagSet = univ.OctetString.tagSet.tagImplicitly(
        tag.Tag(tag.tagClassApplication, tag.tagFormatSimple, 5))


class UInteger32(univ.Integer):
    tagSet = univ.Integer.tagSet.tagImplicitly(
        tag.Tag(tag.tagClassApplication, tag.tagFormatSimple, 7))


KINDS = [
    ('integer', univ.Integer()), ('octets', univ.OctetString()), ('null', univ.Null()),
    ('oid', univ.ObjectIdentifier()), ('ip', rfc1902.IpAddress()),
    ('counter32', rfc1902.Counter32()), ('gauge32', rfc1902.Gauge32()),
    ('timeticks', rfc1902.TimeTicks()), ('opaque', rfc1902.Opaque()),
    ('nsap', NsapAddress()), ('counter64', rfc1902.Counter64()), ('uinteger32', UInteger32()),
    ('nosuchobject', rfc1905.NoSuchObject()), ('nosuchinstance', rfc1905.NoSuchInstance()),
    ('endofmibview', rfc1905.EndOfMibView()),
]
BYTES = {'octets', 'opaque', 'nsap'}
EMPTY = {'null', 'nosuchobject', 'nosuchinstance', 'endofmibview'}


class Value(univ.Choice):
    componentType = namedtype.NamedTypes(*[namedtype.NamedType(n, t) for n, t in KINDS])


class VarBind(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('name', univ.ObjectIdentifier()),
        namedtype.NamedType('value', Value()))


class VarBindList(univ.SequenceOf):
    componentType = VarBind()


def context(n):
    return tag.Tag(tag.tagClassContext, tag.tagFormatConstructed, n)


class Pdu(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('id', univ.Integer()),
        namedtype.NamedType('s', univ.Integer()),
        namedtype.NamedType('i', univ.Integer()),
        namedtype.NamedType('vbs', VarBindList()))


class Trap1(univ.Sequence):
    tagSet = univ.Sequence.tagSet.tagImplicitly(context(4))
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('ent', univ.ObjectIdentifier()),
        namedtype.NamedType('addr', rfc1902.IpAddress()),
        namedtype.NamedType('g', univ.Integer()),
        namedtype.NamedType('sp', univ.Integer()),
        namedtype.NamedType('t', rfc1902.TimeTicks()),
        namedtype.NamedType('vbs', VarBindList()))


PDU_CLASSES = {}
for number in (0, 1, 2, 3, 5, 6, 7):
    PDU_CLASSES[number] = type('Pdu%d' % number, (Pdu,),
                               {'tagSet': univ.Sequence.tagSet.tagImplicitly(context(number))})
PDU_CLASSES[4] = Trap1


class Pdus(univ.Choice):
    componentType = namedtype.NamedTypes(
        *[namedtype.NamedType('pdu%d' % n, c()) for n, c in sorted(PDU_CLASSES.items())])


class Message(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('v', univ.Integer()),
        namedtype.NamedType('c', univ.OctetString()),
        namedtype.NamedType('data', Pdus()))


def hexof(data):
    return data.hex().upper() if data else '-'


def describe_value(value):
    kind = value.getName()
    v = value.getComponent()
    if kind in EMPTY:
        text = '-'
    elif kind in BYTES:
        text = hexof(bytes(v))
    elif kind == 'oid':
        text = str(v)
    elif kind == 'ip':
        text = '.'.join(str(b) for b in bytes(v))
    else:
        text = str(int(v))
    return kind, text


def describe(message):
    data = message['data']
    name = data.getName()
    number = int(name[3:])
    pdu = data.getComponent()
    fields = ['v=%d' % int(message['v']), 'c=' + hexof(bytes(message['c'])), 'pdu=%d' % number]
    if number == 4:
        ent = str(pdu['ent'])
        fields += ['ent=' + (ent if ent else '-'),
                   'addr=' + '.'.join(str(b) for b in bytes(pdu['addr'])),
                   'g=%d' % int(pdu['g']), 'sp=%d' % int(pdu['sp']), 't=%d' % int(pdu['t'])]
    else:
        fields += ['id=%d' % int(pdu['id']), 's=%d' % int(pdu['s']), 'i=%d' % int(pdu['i'])]
    for vb in pdu['vbs']:
        kind, text = describe_value(vb['value'])
        fields.append('vb=%s,%s,%s' % (str(vb['name']), kind, text))
    return ' '.join(fields)


def make_value(kind, text):
    value = Value()
    prototype = dict(KINDS)[kind]
    if kind in EMPTY:
        component = prototype.clone('')
    elif kind in BYTES:
        component = prototype.clone(b'' if text == '-' else bytes.fromhex(text))
    elif kind == 'oid':
        component = prototype.clone(text)
    elif kind == 'ip':
        component = prototype.clone(bytes(int(p) for p in text.split('.')))
    else:
        component = prototype.clone(int(text))
    value.setComponentByName(kind, component)
    return value


def build(line):
    fields = {}
    vbs = []
    for token in line.split():
        key, _, value = token.partition('=')
        if key == 'vb':
            vbs.append(value.split(','))
        else:
            fields[key] = value
    number = int(fields['pdu'])
    pdu = PDU_CLASSES[number]()
    if number == 4:
        pdu['ent'] = univ.ObjectIdentifier(fields['ent'] if fields['ent'] != '-' else ())
        pdu['addr'] = rfc1902.IpAddress(bytes(int(p) for p in fields['addr'].split('.')))
        pdu['g'] = int(fields['g'])
        pdu['sp'] = int(fields['sp'])
        pdu['t'] = int(fields['t'])
    else:
        pdu['id'] = int(fields['id'])
        pdu['s'] = int(fields['s'])
        pdu['i'] = int(fields['i'])
    pdu['vbs'] = VarBindList()
    for n, (oid, kind, text) in enumerate(vbs):
        vb = VarBind()
        vb['name'] = univ.ObjectIdentifier(oid)
        vb['value'] = make_value(kind, text)
        pdu['vbs'][n] = vb
    message = Message()
    message['v'] = int(fields['v'])
    message['c'] = b'' if fields['c'] == '-' else bytes.fromhex(fields['c'])
    pdus = Pdus()
    pdus.setComponentByName('pdu%d' % number, pdu)
    message['data'] = pdus
    return encoder.encode(message)


def main():
    mode = sys.argv[1]
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            if mode == 'decode':
                message, rest = decoder.decode(bytes.fromhex(line), asn1Spec=Message())
                out = describe(message) if not rest else 'error trailing bytes'
            else:
                out = build(line).hex().upper()
        except Exception as e:  # reported per line, the test shows it
            out = 'error ' + type(e).__name__ + ': ' + str(e).replace('\n', ' ')[:200]
        print(out)


if __name__ == '__main__':
    main()
