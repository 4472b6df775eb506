/* Compiled as strict C99 with -pedantic: the public header must stay plain C. */
#include "logbase.h"

int logbase_header_is_c99(void) {
    return 0;
}
