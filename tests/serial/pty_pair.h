#pragma once

#include <QByteArray>
#include <QString>

#include <termios.h>

namespace veltra::test {

// A pseudo-terminal standing in for a serial port: the link opens the slave
// by its path, the test plays the device on the master. The test also keeps a
// slave descriptor of its own, to read the line settings the link applied and
// to see whether input waits unread; it never reads data from it.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_master >= 0 && m_slave >= 0; }
    const QString& slavePath() const { return m_slavePath; }

    // Device side: bytes to the link.
    bool send(const QByteArray& bytes);
    // Device side: waits (running the event loop) until `count` bytes came
    // from the link or the timeout passed; returns what came.
    QByteArray receive(int count, int timeoutMs = 3000);
    // The device goes away: the link's side hangs up.
    void closeMaster();

    // Whether input waits in the slave's queue, unread by anyone.
    bool slaveHasInput(int timeoutMs = 0) const;
    termios slaveTermios() const;
    // Whether this kind of pseudo-terminal holds parity and 7 data bits
    // (Linux ptys force 8 bits without parity, so setting them fails there).
    bool holdsParityAndDataBits() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

}  // namespace veltra::test
