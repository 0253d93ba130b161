"""velksnmp.Error with its fields, and deterministic release of the library's objects."""
import gc
import pickle

import pytest

import velksnmp
from velksnmp import Dispatch

from conftest import live_objects, require


def test_failed_call_carries_the_error_record():
    s = Dispatch("Velk.Strings")
    with pytest.raises(velksnmp.Error) as info:
        s.Remove(5)
    e = info.value
    assert e.hresult == 0x800A2EE1
    assert e.number == velksnmp.ulInvalidParam1 == 12001
    assert e.source == "Velk.Strings.1"
    assert e.helpfile == "UlvaneTcp.hlp" and e.helpcontext == 12001
    assert e.description and str(e) == e.description
    copy = pickle.loads(pickle.dumps(e))
    assert (copy.hresult, copy.description, copy.source) == (e.hresult, e.description, e.source)


def test_failures_without_a_record_are_not_described_by_an_old_one():
    s = Dispatch("Velk.Strings")
    with pytest.raises(velksnmp.Error):
        s.Remove(5)
    col = Dispatch("Velk.SnmpVariables")
    with pytest.raises(velksnmp.Error) as info:
        col.Add(None)
    assert info.value.hresult == 0x80004003 and info.value.source == ""
    assert "Add" in str(info.value)


def test_creation_failures():
    with pytest.raises(velksnmp.Error) as info:
        Dispatch("Velk.NoSuchClass")
    assert info.value.hresult == 0x800401F3 and "Velk.NoSuchClass" in str(info.value)
    with pytest.raises(TypeError):
        Dispatch(42)


def test_dropped_wrappers_release_their_object_at_once():
    before = live_objects()
    var = Dispatch("Velk.SnmpVariable")
    assert velksnmp._live_objects() == before + 1
    oid = var.Oid  # results hold no reference
    del var, oid
    assert velksnmp._live_objects() == before  # without a garbage collection


def test_items_members_and_enumerators_keep_what_they_need():
    before = live_objects()
    col = Dispatch("Velk.SnmpVariables")
    col.Add(Dispatch("Velk.SnmpVariable"))
    it = iter(col)
    add = col.Add                      # a bound member keeps its object
    del col
    assert velksnmp._live_objects() == before + 3  # collection, variable, snapshot enumerator
    item = next(it)
    with pytest.raises(StopIteration):
        next(it)                       # exhausted: the snapshot goes at once
    assert velksnmp._live_objects() == before + 2
    add(Dispatch("Velk.SnmpVariable"))
    del add
    assert velksnmp._live_objects() == before + 1  # the item alone
    del it, item
    assert velksnmp._live_objects() == before


def test_explicit_release_and_with_blocks():
    before = live_objects()
    with Dispatch("Velk.Strings") as s:
        s.Add("a", 0)
        other = Dispatch(s)            # a second wrapper of the same object
    assert "released" in repr(s)
    with pytest.raises(ValueError):
        s.Count
    assert other.Count == 1
    velksnmp.release(other)
    assert velksnmp._live_objects() == before
    with pytest.raises(ValueError):
        len(other)
    with pytest.raises(TypeError):
        velksnmp.release("not an object")


class Holder:
    def __init__(self):
        self.me = self                # a cycle through the handler's own attributes


def test_event_objects_go_with_their_last_reference():
    require("Velk.UdpSocket")
    before = live_objects()
    sock = velksnmp.DispatchWithEvents("Velk.UdpSocket", Holder)
    sock.OpenSocket(0, "127.0.0.1")
    assert velksnmp._live_objects() > before
    del sock
    gc.collect()                      # only the handler's own cycle needs a collection
    assert live_objects() == before
