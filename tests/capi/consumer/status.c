/* A program as a user writes it: the simulator's status through the installed library. */
#include <stdio.h>
#include <veltra.h>

int main(int argc, char** argv) {
    veltra_controller* h = NULL;
    veltra_status st;
    char text[256];
    int rc;
    if (argc != 2) return 2;
    rc = veltra_open(argv[1], 9600, 2000, &h);
    if (rc == VELTRA_OK) rc = veltra_get_status(h, &st, VELTRA_TIMEOUT_DEFAULT);
    if (rc != VELTRA_OK) {
        veltra_last_error(h, text, (int32_t)sizeof text);
        fprintf(stderr, "%s: %s\n", veltra_error_name(rc), text);
        veltra_free(h);
        return 1;
    }
    printf("exposure %d.%d ms\n", (int)(st.exposure / 10), (int)(st.exposure % 10));
    return veltra_free(h) == VELTRA_OK ? 0 : 1;
}
