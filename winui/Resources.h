#pragma once
// Identifiers of the resources the executable carries (app/tarnwick_win32.rc): the help pages,
// and the program's icon (app/desktop/tarnwick.ico), which Explorer and the windows show.
#define TARNWICK_ICON 1
#define TARNWICK_HELP_GETTING_STARTED 201
#define TARNWICK_HELP_ONLINE_DOCUMENTATION 202
