/* libveltra: a Veltra shutter controller from C and from anything that calls C
 * (LabVIEW, MATLAB, C#, Julia, Python ctypes).
 *
 * Every function returns an int: 0 (or a length, where it says so) for
 * success, a negative VELTRA_E_* code for a failure. veltra_last_error() gives
 * the failure in words. Buffers belong to the caller; the library never hands
 * out memory for the caller to free. Times are in tenths of a millisecond, as
 * the controller counts them. Any function may be called from any thread;
 * calls on one handle take turns. See docs/c-api.md.
 */
#ifndef VELTRA_H
#define VELTRA_H

#include <stddef.h>
#include <stdint.h>

#define VELTRA_VERSION_MAJOR 1
#define VELTRA_VERSION_MINOR 1
#define VELTRA_VERSION_PATCH 2
/* What veltra_version() returns: 0x00MMmmpp. */
#define VELTRA_VERSION_NUMBER(major, minor, patch) (((major) << 16) | ((minor) << 8) | (patch))

#if defined(MATLAB_LOADLIBRARY)
#define VELTRA_API
#elif defined(_WIN32)
#if defined(VELTRA_BUILDING_LIBRARY)
#define VELTRA_API __declspec(dllexport)
#else
#define VELTRA_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VELTRA_API __attribute__((visibility("default")))
#else
#define VELTRA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- failures: these numbers never change; new ones are added at the end ---- */
#define VELTRA_OK 0
#define VELTRA_E_ARG (-1)          /* a NULL pointer, a buffer too short, a value no call takes */
#define VELTRA_E_NOT_FOUND (-2)    /* no such device */
#define VELTRA_E_PERMISSION (-3)   /* the device may not be opened */
#define VELTRA_E_BUSY (-4)         /* the device is in use */
#define VELTRA_E_TIMEOUT (-5)      /* no answer within the timeout */
#define VELTRA_E_REFUSED (-6)      /* a value the controller cannot take; nothing was sent */
#define VELTRA_E_BAD_REPLY (-7)    /* a reply the controller cannot have sent */
#define VELTRA_E_CLOSED (-8)       /* the port is closed, or the device went away */
#define VELTRA_E_INTERRUPTED (-9)  /* veltra_interrupt() ended the call */
#define VELTRA_E_INTERNAL (-10)    /* a fault of the library itself */
#define VELTRA_E_DIFFERENT (-11)   /* verify: the controller reads back other settings */
#define VELTRA_E_FILE (-12)        /* a .cfg file that cannot be read or written */
#define VELTRA_E_IO (-13)          /* the device failed otherwise */

/* ---- values ---- */
#define VELTRA_NONE (-1) /* a setting with no choice made (trigger, sync: off) */

#define VELTRA_SHUTTER_OPEN 0
#define VELTRA_SHUTTER_CLOSE 1

#define VELTRA_MODE_FAST 0
#define VELTRA_MODE_SOFT 1
#define VELTRA_MODE_ND 2 /* neutral density, with nd_steps 0..144 */

#define VELTRA_TRIGGER_OFF (-1)
#define VELTRA_TRIGGER_HIGH 0    /* enable on high */
#define VELTRA_TRIGGER_LOW 1     /* enable on low */
#define VELTRA_TRIGGER_RISING 2  /* trigger on the rising edge */
#define VELTRA_TRIGGER_FALLING 3 /* trigger on the falling edge */

#define VELTRA_SYNC_OFF (-1)
#define VELTRA_SYNC_HIGH 0 /* high for open */
#define VELTRA_SYNC_LOW 1  /* low for open */

#define VELTRA_RUN_POWER_UP 0
#define VELTRA_RUN_TRIGGER 1
#define VELTRA_RUN_GO 2 /* starts the cycle now */

#define VELTRA_TIMER_DELAY 0
#define VELTRA_TIMER_EXPOSURE 1
/* Each timer holds up to 5:59:59.999.9. */
#define VELTRA_TIMER_MAX 215999999

#define VELTRA_REPEAT_MAX 65000
#define VELTRA_REPEAT_CONTINUOUS 65535

/* timeout_ms: the time each answer is waited for. */
#define VELTRA_TIMEOUT_DEFAULT 0    /* the handle's, as given to veltra_open() */
#define VELTRA_TIMEOUT_INFINITE (-1) /* no limit (veltra_interrupt() still ends the wait) */

/* The nine settings a controller holds, and which timer a .cfg file selects.
 * Times are tenths of a millisecond (0..VELTRA_TIMER_MAX). */
typedef struct veltra_settings {
    int32_t shutter;        /* VELTRA_SHUTTER_*, VELTRA_NONE: left as it is */
    int32_t mode;           /* VELTRA_MODE_*, VELTRA_NONE: left as it is */
    int32_t nd_steps;       /* 0..144, with VELTRA_MODE_ND */
    int32_t trigger;        /* VELTRA_TRIGGER_* */
    int32_t sync;           /* VELTRA_SYNC_* */
    int32_t delay;          /* tenths of a millisecond */
    int32_t exposure;       /* tenths of a millisecond */
    int32_t repeat;         /* 0..65535, VELTRA_REPEAT_CONTINUOUS */
    int32_t running_option; /* VELTRA_RUN_*, VELTRA_NONE */
    int32_t selected_timer; /* VELTRA_TIMER_*, VELTRA_NONE (a .cfg file's choice; not sent) */
} veltra_settings;

/* What a status request reports. */
typedef struct veltra_status {
    int32_t shutter;        /* VELTRA_SHUTTER_* */
    int32_t mode;           /* VELTRA_MODE_*, VELTRA_NONE */
    int32_t nd_steps;
    int32_t trigger;        /* VELTRA_TRIGGER_* */
    int32_t sync;           /* VELTRA_SYNC_* */
    int32_t delay;          /* tenths of a millisecond */
    int32_t exposure;       /* tenths of a millisecond */
    int32_t cycle;          /* delay + exposure + the shutter's own time, tenths of a millisecond */
    int32_t repeat;         /* count, VELTRA_REPEAT_CONTINUOUS */
    int32_t running_option; /* VELTRA_RUN_*, VELTRA_NONE */
    int32_t selected_timer; /* VELTRA_TIMER_*, VELTRA_NONE: the timer the controller has set last */
} veltra_status;

/* The controller's information: two lines (8 and 4 characters), UTF-8, NUL-terminated. */
typedef struct veltra_info {
    char first[32];
    char second[16];
} veltra_info;

#define VELTRA_EVENT_REPORT 1 /* a shutter report of the run */
#define VELTRA_EVENT_END 2    /* the run has ended; the next call follows a new run */

/* One event of a followed run. */
typedef struct veltra_event {
    int32_t kind;        /* VELTRA_EVENT_* */
    int32_t shutter;     /* REPORT: VELTRA_SHUTTER_OPEN (opened) or _CLOSE (closed) */
    int32_t counted;     /* REPORT: 1 when a cycle was counted */
    int32_t cycles_left; /* REPORT: counts down to 0; VELTRA_REPEAT_CONTINUOUS when continuous */
    int64_t time_us;     /* REPORT: when it arrived, microseconds since 1970-01-01 UTC */
} veltra_event;

typedef struct veltra_controller veltra_controller;

/* ---- the library ---- */

/* VELTRA_VERSION_NUMBER of the library loaded (the header's may differ). */
VELTRA_API int veltra_version(void);
/* The macro name of `code` ("VELTRA_E_TIMEOUT"), "VELTRA_OK" for 0, or
 * "VELTRA_E_UNKNOWN"; static text, never freed. */
VELTRA_API const char* veltra_error_name(int code);
/* Copies the last failure's text (UTF-8, NUL-terminated, the words veltractl
 * prints) into buf and returns the length it needs with the NUL; at most len
 * bytes are written (buf may be NULL when len is 0). `handle` NULL: the last
 * failure of a call in this thread. "" when there was none. */
VELTRA_API int veltra_last_error(veltra_controller* handle, char* buf, int32_t len);
/* The serial ports of this machine, one "device<TAB>description<LF>" line each,
 * into buf (NUL-terminated); returns the length needed with the NUL. */
VELTRA_API int veltra_list_ports(char* buf, int32_t len);

/* ---- a controller ---- */

/* Opens `device` (a path, COMn, socket://HOST:PORT, rfc2217://HOST:PORT) at
 * `baud` 8N1; timeout_ms (>= 1, or VELTRA_TIMEOUT_INFINITE) is the handle's
 * time per answer and the time to connect. *handle is set on success only. */
VELTRA_API int veltra_open(const char* device, int32_t baud, int32_t timeout_ms, veltra_controller** handle);
/* Releases the port; the handle stays valid (calls then fail with VELTRA_E_CLOSED). */
VELTRA_API int veltra_close(veltra_controller* handle);
/* Closes the port and frees the handle. NULL is allowed. A handle freed is
 * refused with VELTRA_E_ARG while its address is not reused. */
VELTRA_API int veltra_free(veltra_controller* handle);
/* *open: 1 while the port is open. */
VELTRA_API int veltra_is_open(veltra_controller* handle, int32_t* open);
/* Read back after each setting (1) or not (0) from now on. */
VELTRA_API int veltra_set_verify(veltra_controller* handle, int32_t verify);
/* Ends the call under way on `handle` (from another thread) with VELTRA_E_INTERRUPTED. */
VELTRA_API int veltra_interrupt(veltra_controller* handle);

/* *online: 1 when the controller echoes in time, else 0. */
VELTRA_API int veltra_online(veltra_controller* handle, int32_t* online, int32_t timeout_ms);
VELTRA_API int veltra_get_status(veltra_controller* handle, veltra_status* status, int32_t timeout_ms);
VELTRA_API int veltra_get_info(veltra_controller* handle, veltra_info* info, int32_t timeout_ms);

VELTRA_API int veltra_open_shutter(veltra_controller* handle, int32_t timeout_ms);
VELTRA_API int veltra_close_shutter(veltra_controller* handle, int32_t timeout_ms);
/* mode VELTRA_MODE_*; nd_steps 0..144 with VELTRA_MODE_ND, else 0. */
VELTRA_API int veltra_set_mode(veltra_controller* handle, int32_t mode, int32_t nd_steps, int32_t timeout_ms);
VELTRA_API int veltra_set_trigger(veltra_controller* handle, int32_t trigger, int32_t timeout_ms);
VELTRA_API int veltra_set_sync(veltra_controller* handle, int32_t sync, int32_t timeout_ms);
/* timer VELTRA_TIMER_*; tenths 0..VELTRA_TIMER_MAX. */
VELTRA_API int veltra_set_timer(veltra_controller* handle, int32_t timer, int32_t tenths, int32_t timeout_ms);
/* count 0..VELTRA_REPEAT_MAX or VELTRA_REPEAT_CONTINUOUS. */
VELTRA_API int veltra_set_repeat(veltra_controller* handle, int32_t count, int32_t timeout_ms);
/* option VELTRA_RUN_*; VELTRA_RUN_GO starts the cycle now. */
VELTRA_API int veltra_run(veltra_controller* handle, int32_t option, int32_t timeout_ms);
VELTRA_API int veltra_stop(veltra_controller* handle, int32_t timeout_ms);
VELTRA_API int veltra_power(veltra_controller* handle, int32_t on, int32_t timeout_ms);
/* Resets the controller and waits until it is back. */
VELTRA_API int veltra_reset(veltra_controller* handle, int32_t timeout_ms);
VELTRA_API int veltra_restore_defaults(veltra_controller* handle, int32_t timeout_ms);
VELTRA_API int veltra_save_to_controller(veltra_controller* handle, int32_t timeout_ms);

/* The whole download, as the panel's Apply sends it; timeout_ms is each step's. */
VELTRA_API int veltra_apply(veltra_controller* handle, const veltra_settings* settings, int32_t timeout_ms);
/* A .cfg file's settings, then the download. */
VELTRA_API int veltra_apply_file(veltra_controller* handle, const char* path, int32_t timeout_ms);
/* Reads the status and writes it as a .cfg file; status may be NULL. */
VELTRA_API int veltra_read_config(veltra_controller* handle, const char* path, veltra_status* status, int32_t timeout_ms);

/* Follows the run under way (or just started, or joined): each call returns
 * its next event, the shutter reports and then VELTRA_EVENT_END. A report is
 * waited for up to one cycle plus timeout_ms (a run on trigger pulses: without
 * a limit); VELTRA_E_TIMEOUT leaves the run followed, so the call may be made again. */
VELTRA_API int veltra_wait_event(veltra_controller* handle, veltra_event* event, int32_t timeout_ms);

/* ---- .cfg files (no controller needed) ---- */
VELTRA_API int veltra_load_config(const char* path, veltra_settings* settings);
VELTRA_API int veltra_save_config(const char* path, const veltra_settings* settings);

#ifdef __cplusplus
}
#endif

#endif /* VELTRA_H */
