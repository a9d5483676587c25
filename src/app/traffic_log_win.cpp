#include "traffic_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QObject>
#include <QPointer>
#include <QString>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

// Windows: a file on a disk is written as the lines come. Anything else (a
// named pipe above all) gets them on a thread of its own, so a reader that
// takes nothing for now never holds up the panel. The writes are overlapped:
// closing the log gives up the one under way instead of waiting for a reader
// that may never come.

namespace veltra {

namespace {

QString systemText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = n ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                       : QStringLiteral("system error %1").arg(error);
    if (text)
        LocalFree(text);
    while (result.endsWith(QLatin1Char('.')))
        result.chop(1);
    return result;
}

}  // namespace

struct TrafficLog::File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE closing = nullptr;  // set when the log closes: the writer gives up
    HANDLE written = nullptr;  // the overlapped write's own event
    std::mutex mutex;
    std::condition_variable wake;
    std::string pending;       // handed over, not yet taken by the writer
    std::size_t inFlight = 0;  // taken by the writer, not yet written
    OVERLAPPED overlapped{};   // the write under way; outlives a write given up on
    bool abandoned = false;    // a cancelled write that did not end: closing the handle ends it
    bool ending = false;
    // How long a closing log still gives its reader to take the write under way.
    std::atomic<DWORD> grace{1000};
    bool failed = false;  // the writer stopped; the GUI thread says why
    std::thread writer;
    // Lives on the GUI thread: the writer's failure is told there.
    QPointer<QObject> guiSide;

    ~File() {
        {
            std::lock_guard lock(mutex);
            ending = true;
        }
        wake.notify_all();
        if (closing)
            SetEvent(closing);
        if (writer.joinable())
            writer.join();
        if (guiSide) {
            // No failure is told for a log that is gone; the log may stop
            // inside that very call, so the object goes later.
            QCoreApplication::removePostedEvents(guiSide, QEvent::MetaCall);
            guiSide->deleteLater();
        }
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        if (abandoned)
            WaitForSingleObject(written, 5000);
        if (closing)
            CloseHandle(closing);
        if (written)
            CloseHandle(written);
    }

    // One overlapped write of `data`, all of it; false with `error` set when
    // it fails, false with error 0 when the log closes first.
    bool writeAll(const std::string& data, DWORD* error) {
        std::size_t done = 0;
        while (done < data.size()) {
            overlapped = OVERLAPPED{};
            overlapped.hEvent = written;
            // At the end of a file, whatever another program appended meanwhile.
            overlapped.Offset = 0xFFFFFFFF;
            overlapped.OffsetHigh = 0xFFFFFFFF;
            const DWORD part = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
            DWORD n = 0;
            if (!WriteFile(handle, data.data() + done, part, &n, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    *error = GetLastError();
                    return false;
                }
                const HANDLE events[] = {written, closing};
                // Closing, the reader has a moment more to take this write:
                // it may never do.
                if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 &&
                    WaitForSingleObject(written, grace) != WAIT_OBJECT_0) {
                    CancelIoEx(handle, &overlapped);
                    abandoned = WaitForSingleObject(written, 5000) != WAIT_OBJECT_0;
                    *error = 0;
                    return false;
                }
                if (!GetOverlappedResult(handle, &overlapped, &n, FALSE)) {
                    *error = GetLastError();
                    return false;
                }
            }
            if (n == 0) {
                *error = ERROR_WRITE_FAULT;
                return false;
            }
            done += n;
        }
        return true;
    }

    void run(TrafficLog* log) {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return ending || !pending.empty(); });
            if (pending.empty())
                return;  // closing, everything written
            const std::string data = std::exchange(pending, {});
            inFlight = data.size();
            lock.unlock();
            DWORD error = 0;
            const bool ok = writeAll(data, &error);
            lock.lock();
            inFlight = 0;
            if (ok)
                continue;
            if (error == 0 || ending)
                return;
            failed = true;
            const QString reason = systemText(error);
            QMetaObject::invokeMethod(
                guiSide.data(),
                [log, reason, self = this] {
                    if (log->m_file.get() == self)
                        log->stop(reason);
                },
                Qt::QueuedConnection);
            return;
        }
    }
};

bool TrafficLog::open(const QString& path, QString* error) {
    m_file.reset();
    // A file is made when missing; a pipe must have its reader already.
    const bool pipe = path.startsWith(QLatin1String("\\\\.\\pipe\\"), Qt::CaseInsensitive);
    const std::wstring name = (pipe ? path : QDir::toNativeSeparators(path)).toStdWString();
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      pipe ? OPEN_EXISTING : OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (error) {
            *error = pipe && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PIPE_BUSY)
                         ? QStringLiteral("no program reads from this pipe")
                         : systemText(code);
        }
        return false;
    }
    auto file = std::make_unique<File>();
    file->handle = handle;
    file->closing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    file->written = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!file->closing || !file->written) {
        if (error)
            *error = systemText(GetLastError());
        return false;
    }
    // A file on a disk takes every line at once, as it comes; a pipe, a
    // socket or a device gets them from a thread of its own.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        file->guiSide = new QObject;
        file->writer = std::thread([f = file.get(), this] { f->run(this); });
    }
    m_file = std::move(file);
    return true;
}

// Hands `line` to the writer; what a reader leaves waiting is bounded.
void TrafficLog::writeLine(std::string line) {
    if (!m_file)
        return;
    File& f = *m_file;
    line += '\n';
    if (!f.writer.joinable()) {
        if (DWORD error = 0; !f.writeAll(line, &error))
            stop(systemText(error ? error : ERROR_WRITE_FAULT));
        return;
    }
    bool overflow = false;
    {
        std::lock_guard lock(f.mutex);
        if (f.failed)
            return;  // told on the GUI thread soon
        // Only what the reader leaves waiting counts: however much comes in
        // one go, a reader that keeps up takes it.
        overflow = f.pending.size() + f.inFlight > kMaxPending;
        if (!overflow)
            f.pending += line;
    }
    if (overflow) {
        // What waits is dropped, the write under way given up at once.
        {
            std::lock_guard lock(f.mutex);
            f.pending.clear();
        }
        f.grace = 0;
        stop(QStringLiteral("its reader does not keep up"));
        return;
    }
    f.wake.notify_one();
}

TrafficLog::TrafficLog() = default;
TrafficLog::~TrafficLog() = default;
void TrafficLog::closeFile() { m_file.reset(); }

}  // namespace veltra
