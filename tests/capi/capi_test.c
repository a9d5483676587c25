/* libveltra from C, compiled as C, against veltra-sim and lines nobody
 * answers on (sim_process_posix.c, sim_process_win.c).
 * Usage: capi_test basic | threads */
#include "sim_process.h"

#include <veltra.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_failures = 0;

#define CHECK(cond)                                                           \
    do {                                                                      \
        if (!(cond)) {                                                        \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                     \
        }                                                                     \
    } while (0)

#define CHECK_RC(call, want)                                                                          \
    do {                                                                                              \
        const int rc_ = (call);                                                                       \
        if (rc_ != (want)) {                                                                          \
            char text_[512];                                                                          \
            veltra_last_error(NULL, text_, (int32_t)sizeof text_);                                    \
            fprintf(stderr, "%s:%d: %s gave %s, not %s (%s)\n", __FILE__, __LINE__, #call,            \
                    veltra_error_name(rc_), veltra_error_name(want), text_);                          \
            ++g_failures;                                                                             \
        }                                                                                             \
    } while (0)

static const char* const kDefaultSimArgs[] = {"--delay-ms", "2", "--exposure-ms", "3", NULL};

static void error_names(void) {
    static const struct {
        int code;
        const char* name;
    } rows[] = {
        {0, "VELTRA_OK"},
        {VELTRA_E_ARG, "VELTRA_E_ARG"},
        {VELTRA_E_NOT_FOUND, "VELTRA_E_NOT_FOUND"},
        {VELTRA_E_PERMISSION, "VELTRA_E_PERMISSION"},
        {VELTRA_E_BUSY, "VELTRA_E_BUSY"},
        {VELTRA_E_TIMEOUT, "VELTRA_E_TIMEOUT"},
        {VELTRA_E_REFUSED, "VELTRA_E_REFUSED"},
        {VELTRA_E_BAD_REPLY, "VELTRA_E_BAD_REPLY"},
        {VELTRA_E_CLOSED, "VELTRA_E_CLOSED"},
        {VELTRA_E_INTERRUPTED, "VELTRA_E_INTERRUPTED"},
        {VELTRA_E_INTERNAL, "VELTRA_E_INTERNAL"},
        {VELTRA_E_DIFFERENT, "VELTRA_E_DIFFERENT"},
        {VELTRA_E_FILE, "VELTRA_E_FILE"},
        {VELTRA_E_IO, "VELTRA_E_IO"},
        {-14, "VELTRA_E_UNKNOWN"},
        {1, "VELTRA_E_UNKNOWN"},
    };
    size_t i;
    /* The published numbers never move. */
    CHECK(VELTRA_E_ARG == -1 && VELTRA_E_TIMEOUT == -5 && VELTRA_E_CLOSED == -8 && VELTRA_E_IO == -13);
    for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) CHECK(strcmp(veltra_error_name(rows[i].code), rows[i].name) == 0);
    CHECK(veltra_version() == VELTRA_VERSION_NUMBER(VELTRA_VERSION_MAJOR, VELTRA_VERSION_MINOR, VELTRA_VERSION_PATCH));
}

static void missing_device(void) {
    veltra_controller* h = (veltra_controller*)&g_failures; /* left alone on failure */
    char text[256];
    CHECK_RC(veltra_open(absent_device(), 9600, 500, &h), VELTRA_E_NOT_FOUND);
    CHECK(h == (veltra_controller*)&g_failures);
    CHECK(veltra_last_error(NULL, text, (int32_t)sizeof text) > 1);
    CHECK(strstr(text, absent_device()) != NULL);
}

static veltra_settings wanted_settings(void) {
    veltra_settings s;
    s.shutter = VELTRA_SHUTTER_CLOSE;
    s.mode = VELTRA_MODE_ND;
    s.nd_steps = 7;
    s.trigger = VELTRA_TRIGGER_OFF;
    s.sync = VELTRA_SYNC_HIGH;
    s.delay = 25;    /* 2.5 ms */
    s.exposure = 40; /* 4 ms */
    s.repeat = 3;
    s.running_option = VELTRA_NONE;
    s.selected_timer = VELTRA_TIMER_EXPOSURE;
    return s;
}

/* Status, apply with verify, a timed run followed to its end. */
static void against_simulator(void) {
    sim_process sim;
    veltra_controller* h = NULL;
    veltra_status st;
    veltra_info info;
    veltra_settings s = wanted_settings();
    veltra_event ev;
    int32_t online = 0;
    int reports = 0, ended = 0, last_left = -1, i;
    if (sim_start(&sim, kDefaultSimArgs) != 0) {
        CHECK(!"veltra-sim started");
        return;
    }
    CHECK_RC(veltra_open(sim.device, 9600, 2000, &h), 0);
    CHECK_RC(veltra_online(h, &online, VELTRA_TIMEOUT_DEFAULT), 0);
    CHECK(online == 1);
    CHECK_RC(veltra_get_status(h, &st, 2000), 0);
    CHECK(st.delay == 20 && st.exposure == 30); /* what veltra-sim powered up with */
    CHECK_RC(veltra_get_info(h, &info, 2000), 0);
    CHECK(strlen(info.first) == 8 && strlen(info.second) == 4);

    CHECK_RC(veltra_set_verify(h, 1), 0);
    CHECK_RC(veltra_apply(h, &s, 2000), 0);
    CHECK_RC(veltra_get_status(h, &st, 2000), 0);
    CHECK(st.mode == VELTRA_MODE_ND && st.nd_steps == 7 && st.sync == VELTRA_SYNC_HIGH);
    CHECK(st.delay == 25 && st.exposure == 40 && st.repeat == 3);
    CHECK(st.cycle > st.delay + st.exposure);

    /* Three counted cycles, then the end; a second run is followed afresh. */
    for (i = 0; i < 2; ++i) {
        reports = ended = 0;
        CHECK_RC(veltra_run(h, VELTRA_RUN_GO, 2000), 0);
        while (!ended) {
            const int rc = veltra_wait_event(h, &ev, 2000);
            CHECK_RC(rc, 0);
            if (rc != 0) break;
            if (ev.kind == VELTRA_EVENT_REPORT) {
                ++reports;
                CHECK(ev.time_us > 1600000000LL * 1000000LL);
                if (ev.counted) last_left = ev.cycles_left;
            } else {
                CHECK(ev.kind == VELTRA_EVENT_END);
                ended = 1;
            }
        }
        CHECK(ended && reports == 6 && last_left == 0);
    }

    /* The device goes away mid-run: the wait ends with VELTRA_E_CLOSED, and so does the next call. */
    CHECK_RC(veltra_set_verify(h, 0), 0);
    CHECK_RC(veltra_set_repeat(h, VELTRA_REPEAT_CONTINUOUS, 2000), 0);
    CHECK_RC(veltra_run(h, VELTRA_RUN_GO, 2000), 0);
    CHECK_RC(veltra_wait_event(h, &ev, 2000), 0);
    CHECK(ev.kind == VELTRA_EVENT_REPORT && ev.cycles_left == VELTRA_REPEAT_CONTINUOUS);
    sim_stop(&sim, 1);
    {
        int rc = 0;
        /* Reports already on their way still come; then the loss. */
        for (i = 0; i < 1000 && rc == 0; ++i) rc = veltra_wait_event(h, &ev, 2000);
        CHECK_RC(rc, VELTRA_E_CLOSED);
    }
    CHECK_RC(veltra_get_status(h, &st, 500), VELTRA_E_CLOSED);
    CHECK_RC(veltra_free(h), 0);
}

/* A terminal that never answers: timeouts, and refusals that send nothing. */
static void unanswered_line(void) {
    silent_line line;
    veltra_controller* h = NULL;
    veltra_status st;
    veltra_settings s = wanted_settings();
    size_t i;
    if (line_open(&line) != 0) {
        CHECK(!"a silent line");
        return;
    }
    CHECK_RC(veltra_open(line.device, 9600, 1000, &h), 0);
    if (!h) return;
    {
        const struct {
            int rc;
            const char* what;
        } refused[] = {
            {veltra_set_trigger(h, 4, 0), "trigger 4"},
            {veltra_set_trigger(h, -2, 0), "trigger -2"},
            {veltra_set_sync(h, 2, 0), "sync 2"},
            {veltra_set_mode(h, 3, 0, 0), "mode 3"},
            {veltra_set_mode(h, VELTRA_MODE_ND, 145, 0), "nd steps 145"},
            {veltra_set_mode(h, VELTRA_MODE_FAST, 5, 0), "steps without nd"},
            {veltra_set_timer(h, VELTRA_TIMER_DELAY, VELTRA_TIMER_MAX + 1, 0), "delay too long"},
            {veltra_set_timer(h, VELTRA_TIMER_EXPOSURE, -1, 0), "negative exposure"},
            {veltra_set_timer(h, 2, 10, 0), "timer 2"},
            {veltra_set_repeat(h, 65001, 0), "repeat 65001"},
            {veltra_set_repeat(h, -1, 0), "repeat -1"},
            {veltra_run(h, 3, 0), "run option 3"},
            {veltra_power(h, 2, 0), "power 2"},
        };
        for (i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
            if (refused[i].rc != VELTRA_E_REFUSED) {
                fprintf(stderr, "%s gave %s\n", refused[i].what, veltra_error_name(refused[i].rc));
                ++g_failures;
            }
        }
    }
    for (i = 0; i < 4; ++i) {
        veltra_settings copy = s;
        if (i == 0) copy.trigger = 4;
        if (i == 1) copy.delay = VELTRA_TIMER_MAX + 1;
        if (i == 2) copy.nd_steps = 145;
        if (i == 3) copy.repeat = 65536;
        CHECK_RC(veltra_apply(h, &copy, 0), VELTRA_E_REFUSED);
    }
    CHECK(line_pending(&line) == 0); /* every refusal came before a byte */
    CHECK_RC(veltra_get_status(h, &st, 200), VELTRA_E_TIMEOUT);
    CHECK(line_pending(&line) > 0); /* the status request did go out */
    {
        char text[256];
        CHECK(veltra_last_error(h, text, (int32_t)sizeof text) > 1);
        CHECK(strstr(text, "200 ms") != NULL);
    }
    CHECK_RC(veltra_close(h), 0);
    CHECK_RC(veltra_get_status(h, &st, 200), VELTRA_E_CLOSED);
    CHECK_RC(veltra_free(h), 0);
    line_close(&line);
}

/* NULLs, short buffers, bad handles and timeouts. */
static void bad_input(void) {
    char buf[16];
    silent_line line;
    veltra_controller* h = NULL;
    veltra_status st;
    veltra_settings s = wanted_settings();
    veltra_event ev;
    veltra_info info;
    int32_t flag = 0;
    int needed, i;
    if (line_open(&line) != 0) {
        CHECK(!"a silent line");
        return;
    }
    CHECK_RC(veltra_open(NULL, 9600, 500, &h), VELTRA_E_ARG);
    CHECK_RC(veltra_open(line.device, 9600, 500, NULL), VELTRA_E_ARG);
    CHECK_RC(veltra_open(line.device, 9600, 0, &h), VELTRA_E_ARG);
    CHECK_RC(veltra_open(line.device, 0, 500, &h), VELTRA_E_REFUSED);
    CHECK_RC(veltra_open("", 9600, 500, &h), VELTRA_E_ARG);
    CHECK_RC(veltra_open(line.device, 9600, 500, &h), 0);
    if (!h) return;

    {
        const int rows[] = {
            veltra_get_status(h, NULL, 0),          veltra_get_info(h, NULL, 0),
            veltra_online(h, NULL, 0),          veltra_is_open(h, NULL),
            veltra_apply(h, NULL, 0),           veltra_apply_file(h, NULL, 0),
            veltra_read_config(h, NULL, &st, 0), veltra_wait_event(h, NULL, 0),
            veltra_load_config(NULL, &s),       veltra_load_config("x.cfg", NULL),
            veltra_save_config(NULL, &s),       veltra_save_config("x.cfg", NULL),
            veltra_get_status(NULL, &st, 0),        veltra_close(NULL),
            veltra_stop(NULL, 0),               veltra_interrupt(NULL),
            veltra_get_status(h, &st, -2),          veltra_set_verify(h, 2),
            veltra_list_ports(NULL, 5),         veltra_list_ports(buf, -1),
            veltra_last_error(h, NULL, 3),      veltra_wait_event(NULL, &ev, 0),
            veltra_get_info(NULL, &info, 0),        veltra_is_open(NULL, &flag),
        };
        for (i = 0; i < (int)(sizeof rows / sizeof rows[0]); ++i) {
            if (rows[i] != VELTRA_E_ARG) {
                fprintf(stderr, "bad input row %d gave %s\n", i, veltra_error_name(rows[i]));
                ++g_failures;
            }
        }
    }
    CHECK(line_pending(&line) == 0);

    /* The text of the last failure: the needed length, never a byte past len. */
    CHECK_RC(veltra_get_status(h, &st, -7), VELTRA_E_ARG);
    needed = veltra_last_error(h, NULL, 0);
    CHECK(needed > 6);
    memset(buf, 'X', sizeof buf);
    CHECK(veltra_last_error(h, buf, 5) == needed);
    CHECK(buf[4] == '\0' && strlen(buf) == 4);
    for (i = 5; i < (int)sizeof buf; ++i) CHECK(buf[i] == 'X');
    memset(buf, 'X', sizeof buf);
    CHECK(veltra_last_error(h, buf, 1) == needed && buf[0] == '\0' && buf[1] == 'X');
    needed = veltra_list_ports(NULL, 0);
    CHECK(needed >= 1);

    CHECK_RC(veltra_is_open(h, &flag), 0);
    CHECK(flag == 1);
    CHECK_RC(veltra_free(h), 0);
    /* A handle used after it was freed: refused while its address is not reused. */
    CHECK_RC(veltra_get_status(h, &st, 0), VELTRA_E_ARG);
    CHECK_RC(veltra_free(h), VELTRA_E_ARG);
    CHECK_RC(veltra_free(NULL), 0);
    line_close(&line);
}

static void config_files(void) {
    char file[512];
    veltra_settings s = wanted_settings(), back;
    if (temp_path(file, (int)sizeof file, ".cfg") != 0) {
        CHECK(!"a temporary file name");
        return;
    }
    CHECK_RC(veltra_save_config(file, &s), 0);
    memset(&back, 0x55, sizeof back);
    CHECK_RC(veltra_load_config(file, &back), 0);
    CHECK(memcmp(&s, &back, sizeof s) == 0);
    CHECK(remove(file) == 0);
    CHECK_RC(veltra_load_config(file, &back), VELTRA_E_FILE);
    s.repeat = 70000;
    CHECK_RC(veltra_save_config(file, &s), VELTRA_E_REFUSED);
}

/* ---- many threads on two handles ---- */

enum { kThreads = 8, kCallsEach = 40 };

typedef struct worker {
    veltra_controller* h;
    int index;
    int done;   /* calls that succeeded */
    int wrong;  /* answers that were not this handle's */
} worker;

static void* work(void* arg) {
    worker* w = (worker*)arg;
    int i;
    for (i = 0; i < kCallsEach; ++i) {
        veltra_status st;
        int rc;
        if (i % 4 == 3) {
            /* A refused value now and then, on the same handle. */
            rc = veltra_set_sync(w->h, 5, 0);
            if (rc == VELTRA_E_REFUSED) ++w->done;
            continue;
        }
        rc = veltra_get_status(w->h, &st, 5000);
        if (rc == 0) ++w->done;
        /* Each simulator powered up with its own exposure. */
        if (rc == 0 && st.exposure != (w->index % 2 ? 70 : 50)) ++w->wrong;
    }
    return NULL;
}

static void threads(void) {
    static const char* const a_args[] = {"--exposure-ms", "5", NULL};
    static const char* const b_args[] = {"--exposure-ms", "7", NULL};
    sim_process a, b;
    veltra_controller* h[2] = {NULL, NULL};
    pthread_t t[kThreads];
    worker w[kThreads];
    int i, total = 0, wrong = 0;
    CHECK(sim_start(&a, a_args) == 0 && sim_start(&b, b_args) == 0);
    CHECK_RC(veltra_open(a.device, 9600, 5000, &h[0]), 0);
    CHECK_RC(veltra_open(b.device, 9600, 5000, &h[1]), 0);
    for (i = 0; i < kThreads; ++i) {
        w[i].h = h[i % 2];
        w[i].index = i;
        w[i].done = w[i].wrong = 0;
        CHECK(pthread_create(&t[i], NULL, work, &w[i]) == 0);
    }
    for (i = 0; i < kThreads; ++i) {
        pthread_join(t[i], NULL);
        total += w[i].done;
        wrong += w[i].wrong;
    }
    CHECK(total == kThreads * kCallsEach);
    CHECK(wrong == 0);
    CHECK_RC(veltra_free(h[0]), 0);
    CHECK_RC(veltra_free(h[1]), 0);
    sim_stop(&a, 0);
    sim_stop(&b, 0);
}

/* ---- a wait without a limit, ended from another thread ---- */

typedef struct waiter {
    veltra_controller* h;
    int rc;
} waiter;

static void* wait_forever(void* arg) {
    waiter* w = (waiter*)arg;
    veltra_status st;
    w->rc = veltra_get_status(w->h, &st, VELTRA_TIMEOUT_INFINITE);
    return NULL;
}

static void interrupted_waits(void) {
    silent_line line;
    int round;
    if (line_open(&line) != 0) {
        CHECK(!"a silent line");
        return;
    }
    /* Round 0: veltra_interrupt ends the wait; round 1: veltra_free does. */
    for (round = 0; round < 2; ++round) {
        waiter w;
        pthread_t t;
        w.h = NULL;
        w.rc = 1;
        CHECK_RC(veltra_open(line.device, 9600, 1000, &w.h), 0);
        if (!w.h) break;
        CHECK(pthread_create(&t, NULL, wait_forever, &w) == 0);
        CHECK(line_wait(&line, 10000)); /* the request has reached the line */
        line_drain(&line);
        if (round == 0) {
            CHECK_RC(veltra_interrupt(w.h), 0);
            pthread_join(t, NULL);
            CHECK_RC(w.rc, VELTRA_E_INTERRUPTED);
            CHECK_RC(veltra_free(w.h), 0);
        } else {
            CHECK_RC(veltra_free(w.h), 0);
            pthread_join(t, NULL);
            CHECK_RC(w.rc, VELTRA_E_INTERRUPTED);
        }
    }
    line_close(&line);
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "basic";
    if (strcmp(what, "threads") == 0) {
        threads();
        interrupted_waits();
    } else {
        error_names();
        missing_device();
        bad_input();
        config_files();
        unanswered_line();
        against_simulator();
    }
    if (g_failures) fprintf(stderr, "%d check(s) failed\n", g_failures);
    else printf("all checks passed\n");
    return g_failures ? 1 : 0;
}
