"""libveltra through Python's ctypes, with buffers the caller owns: the way
MATLAB and LabVIEW call it. VELTRA_LIB names the library, VELTRA_SIM veltra-sim."""

import ctypes
import os
import select
import subprocess

import pytest

LIB = ctypes.CDLL(os.environ["VELTRA_LIB"])
I32 = ctypes.c_int32


class Status(ctypes.Structure):
    _fields_ = [(n, I32) for n in ("shutter", "mode", "nd_steps", "trigger", "sync", "delay", "exposure", "cycle",
                                    "repeat", "running_option", "selected_timer")]


class Settings(ctypes.Structure):
    _fields_ = [(n, I32) for n in ("shutter", "mode", "nd_steps", "trigger", "sync", "delay", "exposure", "repeat",
                                    "running_option", "selected_timer")]


class Event(ctypes.Structure):
    _fields_ = [("kind", I32), ("shutter", I32), ("counted", I32), ("cycles_left", I32), ("time_us", ctypes.c_int64)]


LIB.veltra_error_name.restype = ctypes.c_char_p
LIB.veltra_open.argtypes = [ctypes.c_char_p, I32, I32, ctypes.POINTER(ctypes.c_void_p)]
LIB.veltra_get_status.argtypes = [ctypes.c_void_p, ctypes.POINTER(Status), I32]
LIB.veltra_apply.argtypes = [ctypes.c_void_p, ctypes.POINTER(Settings), I32]
LIB.veltra_wait_event.argtypes = [ctypes.c_void_p, ctypes.POINTER(Event), I32]
LIB.veltra_run.argtypes = [ctypes.c_void_p, I32, I32]
LIB.veltra_set_timer.argtypes = [ctypes.c_void_p, I32, I32, I32]
LIB.veltra_set_repeat.argtypes = [ctypes.c_void_p, I32, I32]
LIB.veltra_free.argtypes = [ctypes.c_void_p]
LIB.veltra_last_error.argtypes = [ctypes.c_void_p, ctypes.c_char_p, I32]


def name(code):
    return LIB.veltra_error_name(code).decode()


def last_error(handle=None):
    needed = LIB.veltra_last_error(handle, None, 0)
    buf = ctypes.create_string_buffer(needed)
    assert LIB.veltra_last_error(handle, buf, needed) == needed
    return buf.value.decode()


@pytest.fixture
def device():
    sim = subprocess.Popen([os.environ["VELTRA_SIM"], "--delay-ms", "1", "--exposure-ms", "2"],
                           stdout=subprocess.PIPE, text=True)
    try:
        assert select.select([sim.stdout], [], [], 10)[0], "veltra-sim did not start"
        yield sim.stdout.readline().strip()
    finally:
        sim.terminate()
        sim.wait(10)
        sim.stdout.close()


@pytest.fixture
def handle(device):
    h = ctypes.c_void_p()
    assert name(LIB.veltra_open(device.encode(), 9600, 2000, ctypes.byref(h))) == "VELTRA_OK", last_error()
    yield h
    assert LIB.veltra_free(h) == 0


def test_status_intoCallersStruct(handle):
    st = Status()
    assert LIB.veltra_get_status(handle, ctypes.byref(st), 0) == 0, last_error(handle)
    assert (st.delay, st.exposure) == (10, 20)
    assert st.cycle >= 30


def test_timerSetAndRunFollowed_reportsThenEnd(handle):
    assert LIB.veltra_set_timer(handle, 1, 35, 0) == 0  # exposure 3.5 ms
    assert LIB.veltra_set_repeat(handle, 2, 0) == 0
    assert LIB.veltra_run(handle, 2, 0) == 0
    kinds, ev = [], Event()
    while not kinds or kinds[-1] != 2:
        rc = LIB.veltra_wait_event(handle, ctypes.byref(ev), 2000)
        assert rc == 0, (name(rc), last_error(handle))
        kinds.append(ev.kind)
    assert kinds == [1, 1, 1, 1, 2]
    st = Status()
    assert LIB.veltra_get_status(handle, ctypes.byref(st), 0) == 0 and st.exposure == 35


@pytest.mark.parametrize("field, value", [("trigger", 7), ("delay", 216_000_000), ("repeat", -1), ("mode", 9)])
def test_applyOutOfRange_refusedWithTheFieldNamed(handle, field, value):
    s = Settings(shutter=-1, mode=0, trigger=-1, sync=-1, delay=1, exposure=1, repeat=1, running_option=-1,
                 selected_timer=-1)
    setattr(s, field, value)
    assert name(LIB.veltra_apply(handle, ctypes.byref(s), 0)) == "VELTRA_E_REFUSED"
    assert last_error(handle).startswith("refused, nothing was sent: " + field)


def test_lastErrorShortBuffer_neededLengthAndNothingPastTheEnd():
    assert name(LIB.veltra_open(b"/dev/veltra-none", 9600, 100, ctypes.byref(ctypes.c_void_p()))) == "VELTRA_E_NOT_FOUND"
    full = last_error()
    raw = ctypes.create_string_buffer(b"#" * 32, 32)
    assert LIB.veltra_last_error(None, raw, 8) == len(full.encode()) + 1
    assert raw.raw[:8] == full.encode()[:7] + b"\0"
    assert raw.raw[8:] == b"#" * 24
