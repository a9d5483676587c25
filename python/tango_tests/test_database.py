"""End to end with a real Tango database on the loopback: MariaDB in a
temporary folder, the Tango database server, veltra-tango started as a user
starts it and a client process using TANGO_HOST."""

import os
import shutil
import subprocess
import sys
import textwrap

import pytest

from conftest import WAIT, free_port, wait_for

SCHEMA = "/usr/share/dbconfig-common/data/tango-db/install/mysql"
DATABASEDS = "/usr/lib/tango/DataBaseds"


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


CLIENT = textwrap.dedent("""
    import queue, sys, time, tango
    d = tango.DeviceProxy("lab/shutter/1")
    def state():
        try:
            return d.state()
        except tango.DevFailed:  # the server is not exported yet
            return None
    deadline = time.monotonic() + 20
    while state() in (None, tango.DevState.INIT) and time.monotonic() < deadline:
        time.sleep(0.05)
    print("state", d.state())
    d.exposure = 0.25
    print("exposure", round(d.exposure, 4))
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
    d.Go()
    started = time.monotonic()
    shutter, left = [], []
    while not (left[-1:] == [0] and len(shutter) >= 4):
        when, name, value = got.get(timeout=10)
        (shutter if name.lower() == "shutter" else left).append(int(value))
        print("event %s %d after %.3f s" % (name, value, when - started), file=sys.stderr)
    deadline = time.monotonic() + 10
    while d.state() != tango.DevState.CLOSE and time.monotonic() < deadline:
        time.sleep(0.05)
    print("shutter", shutter)
    print("left", left)
    print("state", d.state())
    for i in ids:
        d.unsubscribe_event(i)
""")


def test_a_client_reaches_the_shutter_through_the_tango_database(tmp_path):
    install_db, mariadbd, mariadb = need("mariadb-install-db"), need("mariadbd"), need("mariadb")
    need(DATABASEDS), need(SCHEMA)
    import tango
    server_script = os.environ.get("VELTRA_TANGO") or need("veltra-tango")

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

        sim_link = str(tmp_path / "veltra")
        started([os.environ.get("VELTRA_SIM", "veltra-sim"), "--link", sim_link], tmp_path / "sim.log")
        wait_for(lambda: os.path.exists(sim_link), what="the simulator")
        info = tango.DbDevInfo()
        info.name, info._class, info.server = "lab/shutter/1", "VeltraShutter", "veltra-tango/lab"
        db.add_device(info)
        db.put_device_property("lab/shutter/1", {"Device": [sim_link], "Timeout": ["2"]})

        # As a user starts it; it listens on the loopback only.
        started([server_script, "lab", "-ORBendPoint", "giop:tcp:127.0.0.1:%d" % free_port()],
                tmp_path / "server.log", env)
        client = subprocess.run([sys.executable, "-c", CLIENT], env=env, capture_output=True, text=True, timeout=90)
        assert client.returncode == 0, client.stderr + (tmp_path / "server.log").read_text()
        lines = dict(line.split(" ", 1) for line in client.stdout.splitlines())
        assert client.stdout.splitlines()[0] == "state CLOSE"
        assert lines["exposure"] == "0.25"
        assert eval(lines["shutter"]) == [1, 0, 1, 0]
        assert eval(lines["left"]) == [2, 1, 0]
        assert lines["state"] == "CLOSE"
    finally:
        os.environ.pop("TANGO_HOST", None)
        started.stop_all()
    assert all(p.returncode is not None for p in started.procs)


def _database(tango):
    try:
        return tango.Database()
    except tango.DevFailed:
        return None
