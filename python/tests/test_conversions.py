"""Python values to automation values and back, at their edges, and bad input."""
import pytest

import velksnmp
from velksnmp import Dispatch

from conftest import require


@pytest.fixture
def strings():
    s = Dispatch("Velk.Strings")
    s.Add("first", 0)
    return s


@pytest.mark.parametrize("text", [
    "", "plain", "embedded\x00nul\x00", "\x00", "latin-1 \xe9\xff", "bmp \u20ac\ufffd",
    "astral \U0001F600 pair", "lone \ud800 surrogate", "x" * 100000], ids=lambda t: repr(t[:12]))
def test_text_round_trips_exactly(strings, text):
    strings.Add(text, 0)
    assert strings[2] == text
    assert isinstance(strings[2], str)


def test_integers_reach_32_bit_parameters_or_fail_cleanly(strings):
    strings.Add("second", 0)
    assert strings[2] == strings[2.0] == "second"
    with pytest.raises(velksnmp.Error):
        strings[-2**31]                       # in range, no such position
    for too_large in (2**31, -2**31 - 1, 2**40, 2**63, 2**64 - 1):
        with pytest.raises(OverflowError):
            strings[too_large]
    with pytest.raises(OverflowError):
        strings[2**64]                        # beyond any automation integer
    with pytest.raises(OverflowError):
        strings[-2**63 - 1]


def test_bytes_like_values_become_byte_arrays(no_leaks):
    var = Dispatch("Velk.SnmpVariable")
    var.Repeat = True
    assert var.Repeat is True
    var.Repeat = 0
    assert var.Repeat is False
    for value in (b"", b"\x00", bytes(range(256)), bytearray(b"ab\x00c"), memoryview(b"mv")):
        var.ValueEx = value
        assert var.ValueEx == bytes(value)
        assert type(var.ValueEx) is bytes
    var.ValueEx = b"\x00\xff"
    assert var.Value == "\x00\xff"            # bytes read as text: one character per byte
    var.Value = ""
    assert var.ValueEx == b""


def test_any_value_round_trips_through_a_variant_property(no_leaks):
    require("Velk.SnmpMessage")
    msg = Dispatch("Velk.SnmpMessage")
    var = Dispatch("Velk.SnmpVariable")
    for value in (None, True, False, 0, -1, 2**31 - 1, -2**31, 2**40, -2**63, 2**64 - 1,
                  1.5, -0.0, "text\x00", b"", b"\x01\x02", var):
        msg.Ref = value
        got = msg.Ref
        assert got == value and type(got) is type(value), value


def test_objects_pass_as_their_interface(no_leaks):
    col = Dispatch("Velk.SnmpVariables")
    var = Dispatch("Velk.SnmpVariable")
    col.Add(var)
    assert col[1] == var and col[1] is not var  # a new wrapper of the same object
    assert hash(col[1]) == hash(var)
    with pytest.raises(TypeError):
        col.Add(Dispatch("Velk.Strings"))       # another class
    with pytest.raises(TypeError):
        col.Add("1.3.6")
    with pytest.raises(TypeError):
        col.Add(object())
    with pytest.raises(TypeError):
        col.Add([var])
    velksnmp.release(var)
    with pytest.raises(ValueError):
        col.Add(var)                             # released
    assert len(col) == 1
    with pytest.raises(velksnmp.Error, match="Add"):
        col.Add(None)                            # a null object: the collection refuses it
    assert len(col) == 1


def test_wrong_argument_counts_and_names(strings):
    with pytest.raises(TypeError, match="missing required argument 'Text'"):
        strings.Add()
    with pytest.raises(TypeError, match="at most 2"):
        strings.Add("a", 0, 1)
    with pytest.raises(TypeError, match="unexpected keyword"):
        strings.Add("a", Bogus=1)
    with pytest.raises(TypeError, match="multiple values"):
        strings.Add("a", text="b")
    strings.Add(position=0, TEXT="named")        # keywords, case-insensitive
    assert strings[2] == "named"
    with pytest.raises(TypeError):
        strings.Find()
    with pytest.raises(TypeError):
        strings.Find(Dispatch("Velk.Strings"))  # an object where text is expected


def test_properties_guard_their_kind(strings):
    with pytest.raises(AttributeError, match="read-only"):
        strings.Count = 3
    with pytest.raises(AttributeError):
        strings.Nope
    with pytest.raises(AttributeError):
        del strings.Count
    with pytest.raises(TypeError):
        iter(Dispatch("Velk.SnmpVariable"))
    with pytest.raises(TypeError):
        len(Dispatch("Velk.SnmpVariable"))
    with pytest.raises(TypeError):
        Dispatch("Velk.SnmpVariable")[1]
    assert bool(Dispatch("Velk.Strings"))        # objects are true even when empty


def test_enumerations_come_from_the_type_information():
    assert velksnmp.snmpGet2 == 64 and velksnmp.snmpTrap2 == 71
    assert velksnmp.ulTimeout == 10060 and velksnmp.ulInvalidParam1 == 12001
    assert velksnmp.TypeConstants.snmpGetBulk2 == 69
    assert velksnmp.VariableTypeConstants(velksnmp.snmpCounter64).name == "snmpCounter64"
    assert velksnmp.TypeConstants.__doc__.startswith("Values of the Type Property.")
    assert "snmpGet2 = 64" in velksnmp.TypeConstants.__doc__
    var = Dispatch("Velk.SnmpVariable")
    var.Type = velksnmp.VariableTypeConstants.snmpIpAddress  # IntEnum members pass as ints
    assert var.Type == velksnmp.snmpIpAddress


def test_subclasses_and_uninitialised_objects():
    class Named(velksnmp.Object):
        pass

    s = Named("Velk.Strings")
    s.Add("a", 0)
    assert (len(s), s[1], s.count) == (1, "a", 1)
    raw = velksnmp.Object.__new__(velksnmp.Object)
    for use in (lambda: raw.Count, lambda: len(raw), lambda: raw[1], lambda: repr(raw),
                lambda: Dispatch("Velk.SnmpVariables").Add(raw)):
        with pytest.raises(ValueError):
            use()
