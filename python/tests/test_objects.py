"""Late-bound scenarios over the library's classes, driven by name only."""
import os

import pytest

import velksnmp
from velksnmp import Dispatch

from conftest import require

ALL_CLASSES = velksnmp.classes()


@pytest.mark.parametrize("cls", ALL_CLASSES, ids=[c.name for c in ALL_CLASSES])
def test_every_class_is_described_and_readable_by_name(cls, no_leaks):
    if not cls.registered:
        pytest.skip(cls.name + " is not registered yet")
    obj = Dispatch(cls.progid)
    names = dir(obj)
    assert names, "no members from the type information"
    doc = obj.__doc__
    for name in names:
        assert name in doc
        try:
            getattr(obj, name.lower())  # names are case-insensitive
        except velksnmp.Error:
            pass  # a property may fail in the object's present state, but only cleanly
    with pytest.raises(AttributeError):
        obj.NoSuchMember
    with pytest.raises(AttributeError):
        obj.NoSuchMember = 1


def test_strings_as_a_python_sequence(no_leaks):
    s = Dispatch("Velk.Strings")
    s.Add("public", 0)
    s.add("private", 0)
    assert len(s) == s.Count == 2
    assert (s[1], s(2), s.Item(2)) == ("public", "private", "private")
    assert list(s) == ["public", "private"]
    assert "private" in s
    s[1] = "x"                 # default member put
    s.Item[2] = "y"            # parameterized property put
    assert list(s) == ["x", "y"]
    assert s.Remove(1) == "x" and list(s) == ["y"]
    s.Clear()
    s.Delimiter = ","
    s.Add("a,b,c", 0)
    assert list(s) == ["a", "b", "c"] and s.Find("b") == "b"


def make_variable(oid, value="", type_=velksnmp.snmpOctetString):
    v = Dispatch("Velk.SnmpVariable")
    v.Oid = oid
    v.Type = type_
    v.Value = value
    return v


def test_variable_collection_lookups_and_table_views(no_leaks):
    col = Dispatch("Velk.SnmpVariables")
    col.Sorted = True
    entry = "1.3.6.1.2.1.2.2.1"
    for c in (1, 2):
        for i in (1, 2, 3):
            col.Add(make_variable(f"{entry}.{c}.{i}", f"c{c}r{i}"))
    col.Add(make_variable("1.3.6.1.2.1.1.5.0", "host"))
    assert len(col) == 7
    assert col["1.3.6.1.2.1.1.5.0"].Value == "host"
    assert col.Item("1.3.6.1.2.1.1.5.0") == col["1.3.6.1.2.1.1.5.0"]  # same object
    assert col.GetNext(f"{entry}.1.3").Oid == f"{entry}.2.1"
    assert col.GetIndex("1.3.6.1.2.1.1.5.0") == 1
    assert [v.Value for v in col][:3] == ["c1r1", "c1r2", "c1r3"]  # insertion order

    table = col.GetTable(entry)
    assert (table.TableOID, len(table), table.RowCount, table.ColumnCount) == (entry, 3, 3, 2)
    rows = list(table)
    assert [r.RowIndex for r in rows] == [f"{entry}.1.{i}" for i in (1, 2, 3)]
    assert [[cell.Value for cell in row] for row in rows] == [
        ["c1r1", "c2r1"], ["c1r2", "c2r2"], ["c1r3", "c2r3"]]
    # The cells are the collection's own variables.
    table[2][1].Value = "changed"
    assert col[f"{entry}.1.2"].Value == "changed"
    assert col.GetTableRow(entry).RowIndex == f"{entry}.1.1"
    with pytest.raises(velksnmp.Error) as e:
        col.GetTable("1.3.6.1.9")
    assert e.value.number == velksnmp.ulInvalidParam1


def test_traps_collection(no_leaks):
    traps = Dispatch("Velk.SnmpTraps")
    trap = Dispatch("Velk.SnmpTrap")
    trap.Name = "linkDown"
    trap.Enterprise = "1.3.6.1.6.3.1.1.5"
    trap.SpecificTrap = 3
    trap.Oids.Add("1.3.6.1.2.1.2.2.1.1", 0)
    traps.Add(trap)
    assert len(traps) == 1
    found = traps[1]
    assert (found.Name, found.SpecificTrap, list(found.Oids)) == ("linkDown", 3, ["1.3.6.1.2.1.2.2.1.1"])
    assert found == trap
    assert [t.Name for t in traps] == ["linkDown"]


def test_host_information(no_leaks):
    info = Dispatch("Velk.HostInfo")
    assert isinstance(info.HostName, str) and info.HostName
    addresses = list(info.Addresses)
    assert all(a.count(".") == 3 for a in addresses)


def test_message_built_encoded_and_decoded(no_leaks):
    require("Velk.SnmpMessage")
    msg = Dispatch("Velk.SnmpMessage")
    msg.Type = velksnmp.snmpResponse2
    msg.Community = "public"
    msg.Id = 12345
    for oid, type_, value in [
            ("1.3.6.1.2.1.1.3.0", velksnmp.snmpTimeTicks, "123456789"),
            ("1.3.6.1.2.1.1.5.0", velksnmp.snmpOctetString, "host.example.org"),
            ("1.3.6.1.2.1.31.1.1.1.6.1", velksnmp.snmpCounter64, "18446744073709551615")]:
        msg.Variables.Add(make_variable(oid, value, type_))
    data = msg.Encode()                  # the empty output argument receives a byte array
    assert isinstance(data, bytes) and data[0] == 0x30

    copy = Dispatch("Velk.SnmpMessage")
    copy.Decode(data)
    assert (copy.Type, copy.Community, copy.Id) == (velksnmp.snmpResponse2, "public", 12345)
    assert [(v.Oid, v.Type) for v in copy.Variables] == [(v.Oid, v.Type) for v in msg.Variables]
    assert copy.Variables[3].Value == "18446744073709551615"
    assert copy.Variables[2].ValueEx == b"host.example.org"
    # Encoded messages also travel as text (one character per byte).
    again = Dispatch("Velk.SnmpMessage")
    again.Decode(data.decode("latin-1"))
    assert again.Encode() == data
    with pytest.raises(velksnmp.Error):
        again.Decode(b"\x30\x03\x02\x01")


def test_mib_compiled_and_translated(mibs_dir, no_leaks):
    require("Velk.SnmpMib")
    mib = Dispatch("Velk.SnmpMib")
    files = Dispatch("Velk.Strings")
    for name in ("SNMPv2-SMI", "SNMPv2-TC", "SNMPv2-CONF", "SNMPv2-MIB"):
        path = os.path.join(mibs_dir, name)
        if not os.path.exists(path):
            candidates = [f for f in os.listdir(mibs_dir) if f.startswith(name + ".")]
            if not candidates:
                pytest.skip("MIB module missing: " + name)
            path = os.path.join(mibs_dir, candidates[0])
        files.Add(path, 0)
    mib.Compile(files)
    assert mib.Oid("sysDescr") == "1.3.6.1.2.1.1.1"
    assert mib.Name("1.3.6.1.2.1.1.1") == "sysDescr"
    assert mib.Variables["1.3.6.1.2.1.1.1"].Name == "sysDescr"
    assert len(mib.Variables) > 10 and "SNMPv2-MIB" in list(mib.Modules)
