/* Windows (under Wine, on the Linux machine that builds the tests):
 * veltra-sim is the Linux build's, served over rfc2217:// by
 * tests/windows/sim_service.sh, a Unix program this process starts and talks
 * to on a loopback connection. $VELTRA_SIM_SERVICE names that program as
 * Windows sees it, $VELTRA_SIM the simulator as the service runs it. A line
 * nobody answers on is a loopback socket of this process (socket://). */
#include "sim_process.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int sockets_ready(void) {
    static int ready = 0;
    WSADATA data;
    if (!ready && WSAStartup(MAKEWORD(2, 2), &data) == 0) ready = 1;
    return ready;
}

/* A listener on 127.0.0.1 and a free port. */
static SOCKET listen_loopback(unsigned short* port) {
    struct sockaddr_in a;
    int size = (int)sizeof a;
    SOCKET s;
    if (!sockets_ready()) return INVALID_SOCKET;
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (struct sockaddr*)&a, sizeof a) != 0 || listen(s, 4) != 0 ||
        getsockname(s, (struct sockaddr*)&a, &size) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *port = ntohs(a.sin_port);
    return s;
}

/* 1 once `s` is readable (data, a connection, its end) within `ms`. */
static int readable(SOCKET s, int ms) {
    fd_set set;
    struct timeval tv;
    FD_ZERO(&set);
    FD_SET(s, &set);
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return select(0, &set, NULL, NULL, &tv) == 1;
}

static SOCKET accept_within(SOCKET listener, int ms) {
    return readable(listener, ms) ? accept(listener, NULL, NULL) : INVALID_SOCKET;
}

/* One line without its newline, within `ms` for each byte; its length, or -1. */
static int read_line(SOCKET s, char* buf, int len, int ms) {
    int got = 0;
    while (got + 1 < len) {
        if (!readable(s, ms) || recv(s, buf + got, 1, 0) != 1) return -1;
        if (buf[got] == '\n') break;
        ++got;
    }
    buf[got] = '\0';
    return got;
}

static int append(char* line, size_t size, const char* text) {
    const size_t used = strlen(line);
    if (used + strlen(text) + 4 > size) return -1;
    snprintf(line + used, size - used, used ? " \"%s\"" : "\"%s\"", text);
    return 0;
}

int sim_start(sim_process* sim, const char* const* args) {
    const char* service = getenv("VELTRA_SIM_SERVICE");
    const char* simulator = getenv("VELTRA_SIM");
    char command[1024] = "";
    char port_text[16];
    unsigned short port = 0;
    SOCKET listener, control;
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    sim->pid = 0;
    sim->control = (unsigned long long)INVALID_SOCKET;
    if (!service || !simulator) {
        fprintf(stderr, "VELTRA_SIM_SERVICE and VELTRA_SIM name the simulator's service and the simulator\n");
        return -1;
    }
    listener = listen_loopback(&port);
    if (listener == INVALID_SOCKET) return -1;
    snprintf(port_text, sizeof port_text, "%u", (unsigned)port);
    if (append(command, sizeof command, service) || append(command, sizeof command, port_text) ||
        append(command, sizeof command, simulator)) {
        closesocket(listener);
        return -1;
    }
    while (args && *args)
        if (append(command, sizeof command, *args++)) {
            closesocket(listener);
            return -1;
        }
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    memset(&pi, 0, sizeof pi);
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "could not start %s (error %lu)\n", service, GetLastError());
        closesocket(listener);
        return -1;
    }
    /* A Unix program has no Windows process to hold on to: it ends with its
     * control connection. */
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    control = accept_within(listener, 10000);
    closesocket(listener);
    if (control == INVALID_SOCKET) {
        fprintf(stderr, "%s did not connect\n", service);
        return -1;
    }
    if (read_line(control, sim->device, (int)sizeof sim->device, 20000) <= 0 ||
        strncmp(sim->device, "rfc2217://", 10) != 0) {
        fprintf(stderr, "the simulator's service said: %s\n", sim->device);
        closesocket(control);
        return -1;
    }
    sim->control = (unsigned long long)control;
    return 0;
}

void sim_stop(sim_process* sim, int hard) {
    const SOCKET control = (SOCKET)sim->control;
    char answer[32];
    if (control == INVALID_SOCKET) return;
    send(control, hard ? "kill\n" : "term\n", 5, 0);
    if (read_line(control, answer, (int)sizeof answer, 10000) < 0 || strcmp(answer, "stopped") != 0)
        fprintf(stderr, "the simulator's service did not say it stopped\n");
    closesocket(control);
    sim->control = (unsigned long long)INVALID_SOCKET;
}

int line_open(silent_line* line) {
    unsigned short port = 0;
    const SOCKET listener = listen_loopback(&port);
    line->fd = -1;
    line->listener = (unsigned long long)listener;
    line->peer = (unsigned long long)INVALID_SOCKET;
    if (listener == INVALID_SOCKET) return -1;
    snprintf(line->device, sizeof line->device, "socket://127.0.0.1:%u", (unsigned)port);
    return 0;
}

/* The newest connection to the line is the one that counts; `ms` for a first one. */
static SOCKET line_peer(silent_line* line, int ms) {
    const SOCKET fresh = accept_within((SOCKET)line->listener, (SOCKET)line->peer == INVALID_SOCKET ? ms : 0);
    if (fresh != INVALID_SOCKET) {
        if ((SOCKET)line->peer != INVALID_SOCKET) closesocket((SOCKET)line->peer);
        line->peer = (unsigned long long)fresh;
    }
    return (SOCKET)line->peer;
}

int line_pending(silent_line* line) {
    const SOCKET peer = line_peer(line, 10000);
    u_long n = 0;
    if (peer == INVALID_SOCKET || ioctlsocket(peer, FIONREAD, &n) != 0) return -1;
    return (int)n;
}

int line_wait(silent_line* line, int ms) {
    const SOCKET peer = line_peer(line, ms);
    return peer != INVALID_SOCKET && readable(peer, ms);
}

void line_drain(silent_line* line) {
    char buf[256];
    while (line_pending(line) > 0 && recv((SOCKET)line->peer, buf, (int)sizeof buf, 0) > 0) {
    }
}

void line_close(silent_line* line) {
    if ((SOCKET)line->peer != INVALID_SOCKET) closesocket((SOCKET)line->peer);
    if ((SOCKET)line->listener != INVALID_SOCKET) closesocket((SOCKET)line->listener);
    line->peer = line->listener = (unsigned long long)INVALID_SOCKET;
}

/* No port of that number is ever made. */
const char* absent_device(void) { return "COM219"; }

int temp_path(char* path, int len, const char* suffix) {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n >= sizeof dir || !GetTempFileNameA(dir, "vlt", 0, name)) return -1;
    DeleteFileA(name);
    return snprintf(path, (size_t)len, "%s%s", name, suffix) < len ? 0 : -1;
}
