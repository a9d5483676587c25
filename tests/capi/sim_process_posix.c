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
    sim->control = 0;
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

int line_open(silent_line* line) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    line->fd = -1;
    if (master < 0) return -1;
    const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : NULL;
    if (!name || strlen(name) >= sizeof line->device) {
        close(master);
        return -1;
    }
    strcpy(line->device, name);
    line->fd = master;
    return 0;
}

int line_pending(silent_line* line) {
    int n = 0;
    if (ioctl(line->fd, FIONREAD, &n) != 0) return -1;
    return n;
}

int line_wait(silent_line* line, int ms) {
    struct pollfd p;
    p.fd = line->fd;
    p.events = POLLIN;
    p.revents = 0;
    return poll(&p, 1, ms) == 1;
}

void line_drain(silent_line* line) {
    char buf[256];
    while (line_pending(line) > 0 && read(line->fd, buf, sizeof buf) > 0) {
    }
}

void line_close(silent_line* line) {
    if (line->fd >= 0) close(line->fd);
    line->fd = -1;
}

const char* absent_device(void) { return "/dev/veltra-no-such-device"; }

int temp_path(char* path, int len, const char* suffix) {
    char base[] = "/tmp/veltra-capi-XXXXXX";
    const int fd = mkstemp(base);
    if (fd < 0) return -1;
    close(fd);
    unlink(base);
    return snprintf(path, (size_t)len, "%s%s", base, suffix) < len ? 0 : -1;
}
