// The version of Tessaly.EXE, kept here only: tessaly.rc builds the version block from it and
// scripts/package names the release zip after it (it reads the three numbers below).
#ifndef TESSALY_VERSION_H
#define TESSALY_VERSION_H

// Written as the version text shows them: the minor part with two digits, the build with four.
#define TESSALY_VERSION_MAJOR 1
#define TESSALY_VERSION_MINOR 00
#define TESSALY_VERSION_BUILD 0000

#define TESSALY_STRINGISE_(x) #x
#define TESSALY_STRINGISE(x) TESSALY_STRINGISE_(x)
// windres reads a number with a leading zero as octal ("08" fails, "0010" is 8): behind a
// pasted 1 it reads as decimal, and the 1 is taken off again.
#define TESSALY_DECIMAL_(x) 1##x
#define TESSALY_DECIMAL(x, width_power) (TESSALY_DECIMAL_(x) - width_power)

#if TESSALY_DECIMAL(TESSALY_VERSION_MINOR, 100) < 0 || TESSALY_DECIMAL(TESSALY_VERSION_MINOR, 100) > 99
#error TESSALY_VERSION_MINOR takes exactly two digits
#endif
#if TESSALY_DECIMAL(TESSALY_VERSION_BUILD, 10000) < 0 || TESSALY_DECIMAL(TESSALY_VERSION_BUILD, 10000) > 9999
#error TESSALY_VERSION_BUILD takes exactly four digits
#endif

// FILEVERSION and PRODUCTVERSION: major, minor, build, 0.
#define TESSALY_VERSION_NUMBERS TESSALY_VERSION_MAJOR, TESSALY_DECIMAL(TESSALY_VERSION_MINOR, 100), \
    TESSALY_DECIMAL(TESSALY_VERSION_BUILD, 10000), 0
// The FileVersion and ProductVersion strings, with the leading blank they have always had.
#define TESSALY_VERSION_TEXT " " TESSALY_STRINGISE(TESSALY_VERSION_MAJOR) "." \
    TESSALY_STRINGISE(TESSALY_VERSION_MINOR) "." TESSALY_STRINGISE(TESSALY_VERSION_BUILD)

#endif
