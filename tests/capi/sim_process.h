/* veltra-sim and bare pseudo-terminals for the C tests. */
#ifndef VELTRA_TEST_SIM_PROCESS_H
#define VELTRA_TEST_SIM_PROCESS_H

typedef struct sim_process {
    int pid;
    char device[256]; /* the terminal it serves */
} sim_process;

/* Starts veltra-sim with `args` (NULL-terminated); 0 once it serves its terminal. */
int sim_start(sim_process* sim, const char* const* args);
/* Ends it: SIGTERM, or SIGKILL with `hard` (a device that vanishes). */
void sim_stop(sim_process* sim, int hard);

/* A pseudo-terminal nobody answers on: the master's descriptor, the slave's path. */
int pty_open(char* path, int len);
/* Bytes the master has received so far (none waited for). */
int pty_pending(int master);
void pty_close(int master);

#endif
