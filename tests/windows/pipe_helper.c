/* pipe_helper: what the traffic log test needs from inside Wine.
 *   pipe_helper hold NAME     makes the named pipe \\.\pipe\NAME with a tiny
 *                             buffer, waits for its writer and never reads;
 *                             prints "connected", then "full" once the writer
 *                             has left more than the buffer waiting. Runs
 *                             until it is killed.
 *   pipe_helper ping TITLE    0 when the window TITLE answers a message
 *                             within 5 s, 1 when it does not (a hung window)
 *                             or is not there.
 *   pipe_helper close TITLE   asks the window TITLE to close (WM_CLOSE). */
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

static int hold(const wchar_t* name) {
    wchar_t path[256];
    HANDLE pipe;
    DWORD waiting = 0;
    swprintf(path, 256, L"\\\\.\\pipe\\%ls", name);
    pipe = CreateNamedPipeW(path, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 64, 0, NULL);
    if (pipe == INVALID_HANDLE_VALUE) {
        printf("CreateNamedPipe failed: %lu\n", GetLastError());
        return 1;
    }
    printf("listening\n");
    fflush(stdout);
    if (!ConnectNamedPipe(pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED) {
        printf("ConnectNamedPipe failed: %lu\n", GetLastError());
        return 1;
    }
    printf("connected\n");
    fflush(stdout);
    /* Looks, never reads: the writer's lines stay in the pipe. */
    for (;;) {
        DWORD now = 0;
        if (!PeekNamedPipe(pipe, NULL, 0, NULL, &now, NULL)) {
            printf("writer gone: %lu\n", GetLastError());
            fflush(stdout);
            return 0;
        }
        if (now >= 64 && waiting < 64) {
            printf("full: %lu bytes waiting\n", now);
            fflush(stdout);
        }
        waiting = now;
        Sleep(50);
    }
}

static HWND find(const wchar_t* title) { return FindWindowW(NULL, title); }

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"hold") == 0)
        return hold(argv[2]);
    if (argc == 3 && wcscmp(argv[1], L"ping") == 0) {
        DWORD_PTR result = 0;
        HWND window = find(argv[2]);
        if (!window) {
            printf("no window\n");
            return 1;
        }
        if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result)) {
            printf("the window does not answer\n");
            return 1;
        }
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"close") == 0) {
        HWND window = find(argv[2]);
        if (!window || !PostMessageW(window, WM_CLOSE, 0, 0)) {
            printf("no window\n");
            return 1;
        }
        return 0;
    }
    fprintf(stderr, "usage: pipe_helper hold NAME | ping TITLE | close TITLE\n");
    return 2;
}
