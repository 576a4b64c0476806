#include "app/app.h"

// Returns the part of a process command line after the program name and the blanks
// that follow it. Done here rather than trusting the runtime's lpCmdLine: its
// startup code stops an unquoted program name at the first byte above 127.
const char *CommandTail(const char *commandLine)
{
    const unsigned char *p = (const unsigned char *)commandLine;

    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p > 32)
            ++p;
    }
    while (*p >= 1 && *p <= 32)
        ++p;
    return (const char *)p;
}
