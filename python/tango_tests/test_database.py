"""End to end with a real Tango database on the loopback: MariaDB in a
temporary folder, the Tango database server, veltra-tango started as a user
starts it and a client process using TANGO_HOST.

VELTRA_TANGO and VELTRA_SIM name the server and the simulator (by default
the ones on PATH): the build's, or the installed packages' when
scripts/check-tango-package runs this test."""

import json
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

from conftest import TANGO_NOTICES, WAIT, Sim, free_port, lock_files, wait_for

SCHEMA = "/usr/share/dbconfig-common/data/tango-db/install/mysql"
DATABASEDS = "/usr/lib/tango/DataBaseds"
REPORTS = {"AA": 1, "AC": 0}  # the controller's shutter reports: opened, closed
GO = "FA F3"
LATENCY_S = 1.0  # a change event arrives at most this long after the report


def need(path):
    found = shutil.which(path) or (path if os.path.exists(path) else None)
    if not found:
        message = "%s is not installed (scripts/install-deps installs it)" % path
        if os.environ.get("CI"):
            pytest.fail(message)
        pytest.skip(message)
    return found


class Started:
    """Processes the test started, stopped in reverse order."""

    def __init__(self):
        self.procs = []

    def __call__(self, args, log, env=None):
        with open(log, "w") as f:
            p = subprocess.Popen(args, stdout=f, stderr=subprocess.STDOUT, env=env)
        self.procs.append(p)
        return p

    def stop_all(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(WAIT)
                except subprocess.TimeoutExpired:
                    p.kill(), p.wait()


@pytest.fixture
def tango_host(tmp_path):
    """MariaDB with the Tango schema and the Tango database server, both on
    the loopback in tmp_path: (the environment of a server or client naming
    it in TANGO_HOST, the tango.Database, the Started that stops them)."""
    install_db, mariadbd, mariadb = need("mariadb-install-db"), need("mariadbd"), need("mariadb")
    need(DATABASEDS), need(SCHEMA)
    import tango

    started = Started()
    data, sock = tmp_path / "data", str(tmp_path / "mysqld.sock")
    sql_port, db_port = free_port(), free_port()
    user = ["--user=root"] if os.getuid() == 0 else []
    try:
        subprocess.run([install_db, "--no-defaults", "--datadir=%s" % data, "--auth-root-authentication-method=normal",
                        "--skip-test-db", *user], check=True, capture_output=True, timeout=120)
        started([mariadbd, "--no-defaults", "--datadir=%s" % data, "--socket=%s" % sock, "--port=%d" % sql_port,
                 "--bind-address=127.0.0.1", "--skip-name-resolve", "--pid-file=%s" % (tmp_path / "mysqld.pid"),
                 *user], tmp_path / "mariadbd.log")
        wait_for(lambda: os.path.exists(sock), timeout=60, what="MariaDB's socket")
        sql = [mariadb, "--no-defaults", "--socket=%s" % sock, "-u", "root"]
        subprocess.run(sql + ["-e", "CREATE DATABASE tango; CREATE USER 'tango'@'127.0.0.1' IDENTIFIED BY 'veltra';"
                              "GRANT ALL ON tango.* TO 'tango'@'127.0.0.1';"], check=True, timeout=60)
        with open(SCHEMA) as schema:
            subprocess.run(sql + ["tango"], stdin=schema, check=True, timeout=120, cwd="/usr/share/tango-db")

        env = dict(os.environ, MYSQL_HOST="127.0.0.1:%d" % sql_port, MYSQL_USER="tango", MYSQL_PASSWORD="veltra",
                   MYSQL_DATABASE="tango", TANGO_HOST="127.0.0.1:%d" % db_port)
        started([DATABASEDS, "2", "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % db_port], tmp_path / "databaseds.log", env)
        os.environ["TANGO_HOST"] = env["TANGO_HOST"]
        db = wait_for(lambda: _database(tango), timeout=30, what="the Tango database")
        yield env, db, started
    finally:
        os.environ.pop("TANGO_HOST", None)
        started.stop_all()
        # The client's connection to this database ends with it.
        tango.ApiUtil.cleanup()
    assert all(p.returncode is not None for p in started.procs)


CLIENT = textwrap.dedent("""
    import json, queue, sys, time, tango
    d = tango.DeviceProxy("lab/shutter/1")
    def state():
        try:
            return d.read_attribute("State").value
        except tango.DevFailed:  # the server is not exported yet
            return None
    deadline = time.monotonic() + 20
    while state() in (None, tango.DevState.INIT) and time.monotonic() < deadline:
        time.sleep(0.05)
    out = {"state": str(state())}
    d.Open()
    out["after Open"] = str(state())
    d.Close()
    out["after Close"] = str(state())
    d.exposure = 0.25
    out["exposure"] = round(d.exposure, 4)
    d.repeat = 2
    got = queue.Queue()
    def push(e):
        if not e.err:
            got.put((time.monotonic(), e.attr_value.name, e.attr_value.value))
    ids = [d.subscribe_event(a, tango.EventType.CHANGE_EVENT, push) for a in ("shutter", "cycles_left")]
    initial = [got.get(timeout=10)[2] for _ in ids]  # the values as they are
    # the subscription reaches the server's publisher a moment after it
    # returns: open and close until a change arrives
    for _ in range(20):
        d.Open(); d.Close()
        try:
            while got.get(timeout=0.5)[2] != 1:
                pass
            break
        except queue.Empty:
            continue
    while got.get(timeout=10)[2] != 0:
        pass
    started = time.monotonic()
    d.Go()
    shutter, left = [], []
    while not (left[-1:] == [0] and len(shutter) >= 4):
        when, name, value = got.get(timeout=10)
        if name.lower() == "shutter":
            shutter.append((when - started, int(value)))
        else:
            left.append(int(value))
    deadline = time.monotonic() + 10
    while state() != tango.DevState.CLOSE and time.monotonic() < deadline:
        time.sleep(0.05)
    out.update(shutter=shutter, left=left, end=str(state()))
    for i in ids:
        d.unsubscribe_event(i)
    print(json.dumps(out))
""")


# All a server prints: Tango's notices when it starts without a notification daemon.
SERVER_LINES = TANGO_NOTICES | {"Ready to accept request"}


def test_a_client_reaches_the_shutter_through_the_tango_database(tango_host, tmp_path):
    env, db, started = tango_host
    import tango
    server_script = os.environ.get("VELTRA_TANGO") or need("veltra-tango")

    sim = Sim(tmp_path)
    sim.start()
    try:
        info = tango.DbDevInfo()
        info.name, info._class, info.server = "lab/shutter/1", "VeltraShutter", "veltra-tango/lab"
        db.add_device(info)
        db.put_device_property("lab/shutter/1", {"Device": [sim.path], "Timeout": ["2"]})

        # As a user starts it; it listens on the loopback only.
        server = started([server_script, "lab", "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % free_port()],
                         tmp_path / "server.log", env)
        client = subprocess.run([sys.executable, "-c", CLIENT], env=env, capture_output=True, text=True, timeout=90)
        assert client.returncode == 0, client.stderr + (tmp_path / "server.log").read_text()
        # As a service manager stops it: at once, cleanly, the port free again.
        server.terminate()
        assert server.wait(WAIT) == 0
        assert set((tmp_path / "server.log").read_text().splitlines()) <= SERVER_LINES
        assert lock_files(sim.path) == []
        ctl = subprocess.run([os.environ.get("VELTRACTL", "veltractl"), "--device", sim.path, "stop"],
                             capture_output=True, text=True, timeout=WAIT)
        assert ctl.returncode == 0, ctl.stderr
    finally:
        sim.stop()
    out = json.loads(client.stdout)
    assert (out["state"], out["after Open"], out["after Close"]) == ("CLOSE", "OPEN", "CLOSE")
    assert out["exposure"] == 0.25
    assert [value for _, value in out["shutter"]] == [1, 0, 1, 0]
    assert out["left"] == [2, 1, 0]
    assert out["end"] == "CLOSE"

    # Each shutter event against the report it follows, both timed from Go:
    # the client's clock starts before Go is sent, the simulator's when Go
    # arrives, so the difference is at least the event's real delay.
    traffic = sim.traffic()
    go = max(i for i, (_, what, data) in enumerate(traffic) if (what, data) == ("rx", GO))
    reports = [((ms - traffic[go][0]) / 1000.0, REPORTS[b]) for ms, what, data in traffic[go + 1:]
               if what == "tx" for b in data.split() if b in REPORTS]
    assert [value for _, value in reports] == [1, 0, 1, 0]
    for (report_s, value), (event_s, pushed) in zip(reports, out["shutter"]):
        assert pushed == value
        assert event_s - report_s <= LATENCY_S, "report at %.3f s, event at %.3f s" % (report_s, event_s)


def _database(tango):
    try:
        return tango.Database()
    except tango.DevFailed:
        return None
