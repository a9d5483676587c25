/* What the C tests need of the platform: veltra-sim, a line nobody answers
 * on, a missing device and a temporary file name. */
#ifndef VELTRA_TEST_SIM_PROCESS_H
#define VELTRA_TEST_SIM_PROCESS_H

typedef struct sim_process {
    int pid;                    /* veltra-sim's process (POSIX) */
    unsigned long long control; /* the connection to the service that runs it (Windows) */
    char device[256];           /* what veltra_open takes */
} sim_process;

/* Starts veltra-sim with `args` (NULL-terminated); 0 once it serves its device. */
int sim_start(sim_process* sim, const char* const* args);
/* Ends it; with `hard` the device vanishes at once. Returns once it has. */
void sim_stop(sim_process* sim, int hard);

/* A device nobody answers on (a bare pseudo-terminal, a loopback socket). */
typedef struct silent_line {
    int fd;                     /* the pseudo-terminal's master (POSIX) */
    unsigned long long listener; /* the socket's listener and its latest peer (Windows) */
    unsigned long long peer;
    char device[128];
} silent_line;

int line_open(silent_line* line);
/* Bytes the line has received so far (none waited for), -1 on a fault. */
int line_pending(silent_line* line);
/* 1 once the line has received bytes, within `ms`. */
int line_wait(silent_line* line, int ms);
/* Reads what the line has received. */
void line_drain(silent_line* line);
void line_close(silent_line* line);

/* A device that does not exist. */
const char* absent_device(void);
/* A name for a file of the test that does not exist yet, ending in `suffix`. */
int temp_path(char* path, int len, const char* suffix);

#endif
