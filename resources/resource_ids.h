#pragma once
// Resource identifiers shared by launcher.rc and the program. The executable's icon group has the
// lowest number, so the shell shows it for the file.

#define IDI_LAUNCHER 1
#define IDI_WINDOW 2
