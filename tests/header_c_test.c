/* Compiled as C: the public header must not need C++. */
#include <stddef.h>

#include "tarnix.h"

_Static_assert(sizeof(DSINFO) == 28, "DSINFO is 28 bytes");
_Static_assert(offsetof(DSINFO, mac) == 20, "MAC at byte 20");

static int32_t DSC_CALL keep(DSINFO *info) { return info != NULL; }

int main(void) {
    DSC_SEARCH_PROC proc = keep;
    int32_t session = 7;
    /* A null record is refused before anything is written. */
    return (proc != NULL && dsc_Attach(NULL, &session) == DSC_EINVAL && session == 7) ? 0 : 1;
}
