/* Smallest host program: reads the version of the log file named on the
 * command line through the installed library. */
#include <stdio.h>

#include <logbase.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: consumer LOGFILE\n");
        return 2;
    }
    int version = get_log_version_by_path(argv[1]);
    printf("version %d\n", version);
    return version < 0;
}
