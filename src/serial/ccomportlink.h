#pragma once

#include "serial/open_failure.h"
#include "serial/port_settings.h"
#include "serial/transport.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QEventLoop;
class QTimer;

namespace veltra {


// Line events a link can be asked to report (the bits of the event mask).
inline constexpr quint32 kEvRxChar = 0x0001;  // deliver received bytes (else they wait unread, bounded)
inline constexpr quint32 kEvBatch = 0x0008;   // announce each batch of received bytes (the Windows EV_CTS bit)
// What the panel enables on every port.
inline constexpr quint32 kPanelEventMask = kEvRxChar | kEvBatch;

// "WARNING:  <operation> Failed with the following error: \n<text>\nPort: <n>\n"
QString composeLinkErrorText(const QString& operation, const QString& systemText, int portNumber);

class CComPortLink;

// The devices open on the links of one process, by identity
// (Transport::identity()): one device, however it is named (a symbolic link,
// another spelling of a server's host), is open on one link at a time, as two
// ports on one device would share its replies. A link holds its device from
// the start of an opening (a network connection still being made included)
// until it closes or loses it. Links use process() unless given another.
// GUI thread only.
class HeldDevices {
public:
    static HeldDevices& process();

    // The link holding `identity`, or nullptr.
    const CComPortLink* holder(const QString& identity) const { return m_held.value(identity); }
    void hold(const QString& identity, const CComPortLink* link) { m_held.insert(identity, link); }
    // Only the holder lets a device go.
    void release(const QString& identity, const CComPortLink* link);

private:
    QHash<QString, const CComPortLink*> m_held;
};

// One serial link: one port, opened exclusively, event-driven on the thread
// that owns it (the GUI thread). Received bytes go to the owner one call per
// byte, in order, synchronously; commands go out whole and in order.
//
// The callbacks may call back into the link (QueueWrite, OpenLink,
// StartMonitor) and may run a nested event loop (a message box). They must not
// delete the link; use deleteLater() for that.
//
// A link whose device goes away (unplugged, hung up) reports it once, closes,
// and tries the same device again every second with the same line settings
// until it is back or OpenLink is called.
//
// The device is a serial port, or a port behind a terminal server:
// socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT (Telnet, the line
// settings set on the server's port), reached through the Transport that
// makeTransport() gives for the name. Everything above is the same for each;
// only connecting takes time: OpenLink of a network device returns false at
// once with isConnecting(), and the link either opens later by itself (the
// reconnected handler, bytes delivered) or gives up (the closed handler, with
// the reason) -- unless setWaitForConnection is on.
class CComPortLink : public QObject {
    Q_OBJECT

public:
    using ByteHandler = std::function<void(int byte, int port)>;
    using BatchHandler = std::function<void(int port)>;
    using ErrorReporter = std::function<void(const QString& text)>;
    using ClosedHandler = std::function<void(int port, const QString& reason)>;
    using ReconnectedHandler = std::function<void(int port)>;
    // Every write that went out (sent) and every chunk read from the port.
    using TrafficHandler = std::function<void(int port, bool sent, const QByteArray& bytes)>;

    explicit CComPortLink(QObject* parent = nullptr);
    ~CComPortLink() override;

    CComPortLink(const CComPortLink&) = delete;
    CComPortLink& operator=(const CComPortLink&) = delete;

    // Stops delivery, closes the port if open and opens it again with these
    // settings. False only when the device cannot be opened (no report; see
    // lastOpenError()). A setting the port refuses is reported and the port
    // stays open. Does not start delivery.
    bool OpenLink(int portNumber, int baudRate, char parity, int dataBits, int stopBits,
                  quint32 eventMask, int sendBufferSize);
    // Begins delivering received bytes; input received before is dropped.
    // False when the port is not open.
    bool StartMonitor();
    // Sends length bytes after dropping the input not yet handed to the owner;
    // earlier commands still queued go out first, none is replaced. Asked from
    // a callback while bytes are being handed over, the write waits until every
    // byte already received has been handed over. False when the port is not
    // open, or (reported) when length is not 1 to the send-buffer size.
    bool QueueWrite(const quint8* bytes, int length);

    PortSettings GetLineSettings() const { return m_lineSettings; }
    // The line as the device has it, in RFC 2217's codes: an RFC 2217
    // server's answers (what it left unanswered as asked), a serial port's
    // settings; nothing for raw TCP (the server's own line) or a closed link.
    std::optional<ServerLine> deviceLine() const;
    quint32 GetEventMask() const { return m_eventMask; }
    int GetSendBufferSize() const { return m_sendBufferSize; }

    bool isOpen() const;
    // Queued bytes the event loop has not yet handed to the system.
    qint64 bytesToWrite() const;
    bool isMonitoring() const { return m_monitoring; }
    int portNumber() const { return m_portNumber; }
    // Empty name: the default device of the port number.
    void setDeviceName(const QString& device) { m_deviceName = device; }
    QString deviceName() const;
    // Why the last OpenLink could not open the device; empty after a success.
    QString lastOpenError() const { return m_lastOpenError; }
    // Its kind, decided where the failure was known.
    OpenFailureKind lastOpenFailure() const { return m_lastOpenFailure; }

    // One call per received byte (0 to 255) with the port number.
    void setByteHandler(ByteHandler handler) { m_byteHandler = std::move(handler); }
    // Before each batch of received bytes, when the mask has kEvBatch.
    void setBatchHandler(BatchHandler handler) { m_batchHandler = std::move(handler); }
    // Failures after the port has opened, composed by composeLinkErrorText;
    // the link carries on. Without a reporter they go to qWarning.
    void setErrorReporter(ErrorReporter reporter) { m_errorReporter = std::move(reporter); }
    // The device went away (unplugged, hung up): reported as a failed read
    // once, the port closed, then this call.
    void setClosedHandler(ClosedHandler handler) { m_closedHandler = std::move(handler); }
    // The device came back after a closing of the closed handler's kind: the
    // link is open again with the same line settings and delivers bytes.
    void setReconnectedHandler(ReconnectedHandler handler) { m_reconnectedHandler = std::move(handler); }
    void setTrafficHandler(TrafficHandler handler) { m_trafficHandler = std::move(handler); }
    // What an RFC 2217 server did with the line asked for when it is not
    // that ("The server set 1200 baud instead of 19200 baud.", or it took
    // none of it), as it answers; the error report of the same text follows
    // once the answer has been handled.
    using LineHandler = std::function<void(int port, const QString& text)>;
    void setLineHandler(LineHandler handler) { m_lineHandler = std::move(handler); }
    // The link's life, one short text each, for a traffic log: "opened 9600
    // 8N1", "open failed: <reason>", "closed: <why>", "reconnect try 1
    // failed: <reason>" (the first try and one a minute after it),
    // "reconnected 9600 8N1"; for a network device "connected 9600 8N1" and
    // "connection failed: <reason>" (retries as above).
    using EventHandler = std::function<void(int port, const QString& text)>;
    void setEventHandler(EventHandler handler) { m_eventHandler = std::move(handler); }

    // A device lost while a write goes out is heard of from the events due
    // after the write (a network connection), not by the write failing.
    bool lossFollowsWrite() const { return m_transport && m_transport->lossFollowsWrite(); }
    // An OpenLink of a network device is still connecting.
    bool isConnecting() const { return m_connectPending; }
    // On (for callers without a window): OpenLink waits for a network
    // connection in a local event loop, at most the connect timeout, and
    // returns as for a serial device.
    void setWaitForConnection(bool on) { m_waitForConnection = on; }
    bool isReconnecting() const;
    // On (the panel's way): every write first drops input not yet handed
    // over. Off: nothing received is dropped, so a caller that writes several
    // commands without running the event loop in between still hears every
    // answer, in order.
    void setDropUnreadInputOnWrite(bool on) { m_dropUnreadOnWrite = on; }
    // Changes with every opening and closing, so a caller that acts later can
    // tell whether the link is still in the state it heard about.
    quint64 generation() const { return m_generation; }
    // The reason given for a device that went away.
    static QString disconnectedText() { return Transport::disconnectedText(); }

    // Where the link gets its transport for a device name (makeTransport
    // unless set); for tests. Takes effect at the next OpenLink.
    using TransportFactory = std::function<Transport*(const QString& device, QObject* parent)>;
    void setTransportFactory(TransportFactory factory) { m_makeTransport = std::move(factory); }
    // The map of held devices this link takes part in (HeldDevices::process()
    // unless set); set before the first OpenLink.
    void setHeldDevices(HeldDevices& held) { m_held = &held; }

private:
    void onReadyRead();
    bool canDeliver() const;
    void drainInput();
    void scheduleDrain();
    void flushDeferredWrites();
    bool writeNow(const QByteArray& bytes);
    // The transport for the device name, made anew when the name changed.
    Transport* transportFor(const QString& device);
    void dropTransport();
    // The line asked for, or nothing when it is not a valid one (the line
    // stays as it runs; lineProblem() says why).
    std::optional<LineRequest> requestedLine() const;
    // An opening that went through (Opened): reports, drops stale input.
    // False when a callback of a report reopened or closed the link.
    bool finishOpen(quint64 generation, const std::vector<Transport::Problem>& problems);
    void deviceGone(const QString& operation, const QString& text);
    // Why the line settings asked for cannot be set, or empty.
    static QString lineProblem(int baudRate, char parity, int dataBits, int stopBits);
    void onConnected();
    void onConnectFailed(OpenFailureKind kind, const QString& reason);
    void onLineChanged(const QString& text);
    void tryReconnect();
    // The first failed reconnect try and one a minute after it are told.
    void reconnectFailed(const QString& reason);
    void reportError(const QString& operation, const QString& systemText);
    void event(const QString& text);
    // The link holding the transport's device, other than this one, or nullptr.
    const CComPortLink* deviceHolder() const;
    QString heldElsewhereText(const CComPortLink* other) const;
    void holdDevice();
    void releaseDevice();
    QString lineText() const;  // "9600 8N1"

    // What OpenLink was asked for, for reopening the same way.
    struct Requested {
        int baudRate = 0;
        char parity = 'N';
        int dataBits = 8;
        int stopBits = 1;
    };

    Transport* m_transport = nullptr;  // child; made anew when the device name changes
    TransportFactory m_makeTransport;
    HeldDevices* m_held;
    QEventLoop* m_openLoop = nullptr;  // OpenLink waiting for a connection
    bool m_connectPending = false;  // OpenLink's connection not made yet
    bool m_waitForConnection = false;
    QTimer* m_reconnectTimer;
    Requested m_requested;
    bool m_dropUnreadOnWrite = true;
    QString m_deviceName;
    QString m_lastOpenError;
    OpenFailureKind m_lastOpenFailure = OpenFailureKind::None;
    PortSettings m_lineSettings;
    int m_portNumber = 0;
    quint32 m_eventMask = 0;
    int m_sendBufferSize = 0;

    bool m_monitoring = false;
    bool m_draining = false;         // inside the byte loop (callbacks may re-enter)
    bool m_drainScheduled = false;
    quint64 m_generation = 0;        // bumped by every (re)opening and closing
    // Writes a callback asks for while bytes are being handed over go out once
    // every byte already received has been handed over: the purge before a
    // write drops only input that arrived after that.
    std::vector<QByteArray> m_deferredWrites;

    ByteHandler m_byteHandler;
    BatchHandler m_batchHandler;
    ErrorReporter m_errorReporter;
    ClosedHandler m_closedHandler;
    ReconnectedHandler m_reconnectedHandler;
    TrafficHandler m_trafficHandler;
    EventHandler m_eventHandler;
    LineHandler m_lineHandler;
    int m_failedTries = 0;  // reconnect tries since the device went away
    QString m_heldDevice;   // the identity of the device this link holds in *m_held
};

}  // namespace veltra
