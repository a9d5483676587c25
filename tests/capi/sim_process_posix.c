#define _XOPEN_SOURCE 700
#define _DEFAULT_SOURCE
#include "sim_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int sim_start(sim_process* sim, const char* const* args) {
    const char* argv[32];
    int n = 0;
    argv[n++] = VELTRA_SIM_PATH;
    while (args && args[n - 1] && n < 31) {
        argv[n] = args[n - 1];
        ++n;
    }
    argv[n] = NULL;
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, VELTRA_SIM_PATH, &actions, NULL, (char* const*)argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return -1;
    }
    sim->pid = (int)pid;
    /* Its first line is the terminal's path; waited for, at most 10 s. */
    size_t got = 0;
    struct pollfd p = {out[0], POLLIN, 0};
    while (got + 1 < sizeof sim->device) {
        if (poll(&p, 1, 10000) <= 0) break;
        const ssize_t r = read(out[0], sim->device + got, 1);
        if (r <= 0 || sim->device[got] == '\n') break;
        ++got;
    }
    sim->device[got] = '\0';
    /* Its later output (a new terminal's path) is not needed: the pipe stays
     * open so that it never writes into a closed one. */
    if (got == 0) {
        sim_stop(sim, 1);
        return -1;
    }
    return 0;
}

void sim_stop(sim_process* sim, int hard) {
    if (sim->pid <= 0) return;
    kill((pid_t)sim->pid, hard ? SIGKILL : SIGTERM);
    waitpid((pid_t)sim->pid, NULL, 0);
    sim->pid = 0;
}

int pty_open(char* path, int len) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    const char* name = ptsname(master);
    if (!name || (int)strlen(name) >= len) return -1;
    strcpy(path, name);
    return master;
}

int pty_pending(int master) {
    int n = 0;
    if (ioctl(master, FIONREAD, &n) != 0) return -1;
    return n;
}

void pty_close(int master) { close(master); }
