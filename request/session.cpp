// End of a request's session use.
#include "webadmin.h"

extern "C" {

// The session store is released here at the end of every request; this CGI
// layer keeps no session yet, so there is nothing to save or forget.
void qSessionFree(void) {}

}
