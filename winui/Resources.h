#pragma once
// Identifiers of the resources the executable carries (app/tarnwick_win32.rc): the help pages,
// and the icon the windows show where the build gives the executable one (else the system's).
#define TARNWICK_ICON 1
#define TARNWICK_HELP_GETTING_STARTED 201
#define TARNWICK_HELP_ONLINE_DOCUMENTATION 202
