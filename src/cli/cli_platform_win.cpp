#include "cli/cli_platform.h"

#include <windows.h>

#include <atomic>

namespace veltra::cli {

namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // A second one goes to the default handler, which ends the program at once.
        return g_interrupted.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process when this returns: give the main thread
        // the time the system allows to close the port and exit by itself.
        g_interrupted.store(true);
        ::Sleep(5000);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void watchInterrupts() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool interrupted() { return g_interrupted.load(); }

const PlatformTexts& platformTexts() {
    static const PlatformTexts texts{
        "serial port, e.g. COM3, or a terminal server's port: socket://HOST:PORT, rfc2217://HOST:PORT",
        "COM port number N (COMN)",
        "list the COM ports with their descriptions",
        "  3    the device cannot be opened: no such COM port, held by another\n"
        "       program; or it went away (also during a call)\n",
        "Ctrl+C, Ctrl+Break, the console closed",
    };
    return texts;
}

}  // namespace veltra::cli
