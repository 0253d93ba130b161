"""Events through connection points, the thread's message loop, and asyncio."""
import asyncio
import select
import sys
import time

import pytest

import velksnmp
from velksnmp import Dispatch, DispatchWithEvents

from conftest import require

LOOPBACK = "127.0.0.1"


def pump_until(condition, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out waiting for events"
        velksnmp.wait_message(50)


class SocketRecorder:
    def __init__(self):
        self.log = []

    def OnDatagramArrived(self):
        count, data, address, port = self.ReceiveDatagram()
        self.log.append(("datagram", data, address))

    def OnSendNotification(self):
        self.log.append(("sent",))

    def OnSocketError(self, number, description):
        self.log.append(("error", number, description))


def open_socket(handler=SocketRecorder):
    require("Velk.UdpSocket")
    sock = DispatchWithEvents("Velk.UdpSocket", handler)
    sock.OpenSocket(0, LOOPBACK)
    return sock


def test_events_reach_the_handler_in_order(no_leaks):
    rx, tx = open_socket(), open_socket()
    payloads = [bytes([i]) * (i + 1) for i in range(5)] + [b"\x00end"]
    for data in payloads:
        tx.SendDatagram(data, LOOPBACK, rx.SocketLocalPort)
    pump_until(lambda: len(rx.log) == len(payloads) and len(tx.log) == len(payloads))
    assert rx.log == [("datagram", data, LOOPBACK) for data in payloads]
    assert tx.log == [("sent",)] * len(payloads)


def test_events_with_arguments():
    tx = open_socket()
    closed = open_socket()
    port = closed.SocketLocalPort
    closed.CloseSocket()
    tx.SendDatagram(b"nobody listens", LOOPBACK, port)
    pump_until(lambda: any(e[0] == "error" for e in tx.log) or tx.QueuedDatagramCount < 0,
               timeout=2.0)
    number, description = next((e[1], e[2]) for e in tx.log if e[0] == "error")
    assert number == velksnmp.ulConnectionRefused and isinstance(description, str)


class Failing(SocketRecorder):
    def OnDatagramArrived(self):
        super().OnDatagramArrived()
        raise KeyError("handler failed")


def test_handler_exceptions_are_raised_from_the_loop_and_the_object_goes_on():
    rx, tx = open_socket(Failing), open_socket()
    tx.SendDatagram(b"1", LOOPBACK, rx.SocketLocalPort)
    tx.SendDatagram(b"2", LOOPBACK, rx.SocketLocalPort)
    raised = []
    deadline = time.monotonic() + 5
    while len(rx.log) < 2 and time.monotonic() < deadline:
        try:
            velksnmp.wait_message(50)
        except KeyError as e:
            raised.append(e)
    assert [d for _, d, _ in rx.log] == [b"1", b"2"]
    assert len(raised) == 2
    frames = []
    tb = raised[0].__traceback__
    while tb:
        frames.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    assert "OnDatagramArrived" in frames


def test_a_second_handler_exception_before_the_first_surfaced_is_reported(monkeypatch):
    class FailingSend(SocketRecorder):
        def OnSendNotification(self):
            raise ValueError("send handler")

    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append(u.exc_value))
    tx = open_socket(FailingSend)
    for _ in range(3):
        tx.SendDatagram(b"x", LOOPBACK, tx.SocketLocalPort)
    with pytest.raises(ValueError):
        pump_until(lambda: False, timeout=2.0)
    assert len(reported) == 2 and all(isinstance(e, ValueError) for e in reported)


def test_handler_initialiser_runs_on_a_usable_object():
    class Init:
        def __init__(self):
            self.timeout_at_start = self.BlockingTimeout

    sock = open_socket(Init)
    assert sock.timeout_at_start == sock.BlockingTimeout
    assert "OpenSocket" in dir(sock) and "timeout_at_start" in dir(sock)
    with pytest.raises(TypeError):
        DispatchWithEvents("Velk.Strings", Init)      # no events
    with pytest.raises(TypeError):
        DispatchWithEvents("Velk.UdpSocket", object())  # not a class


def test_message_loop_waits_and_its_descriptor_shows_pending_work():
    while velksnmp.wait_message(20):
        pass  # work left by earlier tests
    assert velksnmp.wait_message(0) is False
    start = time.monotonic()
    assert velksnmp.wait_message(60) is False
    assert time.monotonic() - start >= 0.05
    fd = velksnmp.message_loop_fd()
    assert select.select([fd], [], [], 0)[0] == []
    rx, tx = open_socket(), open_socket()
    tx.SendDatagram(b"wake", LOOPBACK, rx.SocketLocalPort)
    assert select.select([fd], [], [], 2)[0] == [fd]
    pump_until(lambda: rx.log)
    with pytest.raises(ValueError):
        velksnmp.wait_message(-1)


def test_sockets_talk_inside_asyncio_without_pumping():
    async def main():
        loop = asyncio.get_running_loop()
        got = loop.create_future()

        class Receiver(SocketRecorder):
            def OnDatagramArrived(self):
                super().OnDatagramArrived()
                if not got.done():
                    got.set_result(self.log[-1][1])

        with velksnmp.asyncio_attach():
            rx, tx = open_socket(Receiver), open_socket()
            tx.SendDatagram(b"over asyncio", LOOPBACK, rx.SocketLocalPort)
            return await asyncio.wait_for(got, 5)

    assert asyncio.run(main()) == b"over asyncio"


class AgentHandler:
    def __init__(self):
        self.log = []

    def OnRequest(self):
        msg = self.Message
        self.log.append(("request", msg.Type, msg.Id))
        msg.Type = velksnmp.snmpResponse2
        for var in msg.Variables:
            var.Type = velksnmp.snmpOctetString
            var.Value = "answer for " + var.Oid
        self.Send()

    def OnResponse(self):
        self.log.append(("response",))

    def OnError(self, number, description):
        self.log.append(("error", number))


class ManagerHandler:
    def __init__(self):
        self.log = []
        self.done = None

    def OnSend(self):
        self.log.append(("send",))

    def OnResponse(self):
        msg = self.Message
        self.log.append(("response", msg.Id, [v.Value for v in msg.Variables]))
        if self.done and not self.done.done():
            self.done.set_result(True)

    def OnError(self, number, description):
        self.log.append(("error", number))


def test_agent_and_manager_talk_over_loopback_inside_asyncio(no_leaks):
    require("Velk.Agent", "Velk.Manager", "Velk.SnmpMessage")

    async def main():
        with velksnmp.asyncio_attach():
            agent = DispatchWithEvents("Velk.Agent", AgentHandler)
            agent.Auto = False
            agent.Open(0, LOOPBACK)
            manager = DispatchWithEvents("Velk.Manager", ManagerHandler)
            manager.Timeout = 0
            manager.Open(0, LOOPBACK)
            manager.AgentName = LOOPBACK
            manager.AgentPort = agent.LocalPort
            manager.done = asyncio.get_running_loop().create_future()
            msg = manager.Message
            msg.Type = velksnmp.snmpGet2
            msg.Id = 4242
            var = Dispatch("Velk.SnmpVariable")
            var.Oid = "1.3.6.1.2.1.1.5.0"
            msg.Variables.Add(var)
            manager.Send()
            await asyncio.wait_for(manager.done, 5)
            agent.Close()
            manager.Close()
            return agent.log, manager.log

    agent_log, manager_log = asyncio.run(main())
    assert agent_log == [("request", velksnmp.snmpGet2, 4242), ("response",)]
    assert manager_log[-1] == ("response", 4242, ["answer for 1.3.6.1.2.1.1.5.0"])
    assert ("send",) in manager_log and ("error",) not in [e[:1] for e in manager_log]
