// The command-line tail: what is left of the process command line for the name.
#include <gtest/gtest.h>
#include <string.h>

#include "app/app.h"

namespace {

struct TailCase {
    const char *why;
    const char *commandLine;
    const char *tail;
};

const TailCase kTailCases[] = {
    {"quoted program name, blank, name", "\"C:\\Tools\\Tessaly.EXE\" My Phone", "My Phone"},
    {"quoted program name alone", "\"C:\\Tools\\Tessaly.EXE\"", ""},
    {"quoted program name with blanks inside", "\"C:\\Program Files\\Tessaly.EXE\" Name", "Name"},
    {"name right after the closing quote", "\"C:\\Tessaly.EXE\"Name", "Name"},
    {"empty quoted program name", "\"\" Name", "Name"},
    {"opening quote never closed: all is program name", "\"C:\\Tessaly.EXE My Phone", ""},
    {"unquoted program name", "C:\\Tools\\Tessaly.EXE My Phone", "My Phone"},
    {"unquoted program name alone", "Tessaly.EXE", ""},
    {"bytes above 127 belong to an unquoted program name",
     "C:\\Caf\xE9\\\xC4\xD6\\Tessaly.EXE Name", "Name"},
    {"bytes above 127 in a quoted program name", "\"C:\\Caf\xE9 Shop\\Tessaly.EXE\" Name", "Name"},
    {"tab and control characters 1..32 after the name are skipped",
     "Tessaly.EXE \t\x01\x1F\x20Name", "Name"},
    {"a byte above 127 starts the tail", "Tessaly.EXE \xA0Name", "\xA0Name"},
    {"DEL (127) is not skipped", "Tessaly.EXE \x7FName", "\x7FName"},
    {"quotes in the tail are kept", "Tessaly.EXE \"My Phone\"", "\"My Phone\""},
    {"inner and trailing blanks are kept", "Tessaly.EXE My  Phone  ", "My  Phone  "},
    {"blanks only give an empty tail", "\"C:\\Tessaly.EXE\"    \t ", ""},
    {"empty command line", "", ""},
};

TEST(CommandTail, FollowsTheProgramNameAndBlanksRules)
{
    for (const TailCase &c : kTailCases) {
        const char *result = CommandTail(c.commandLine);
        size_t lineLength = strlen(c.commandLine);
        size_t tailLength = strlen(c.tail);
        ASSERT_NE(result, nullptr) << c.why << ": no pointer came back";
        EXPECT_STREQ(result, c.tail) << c.why << ": wrong tail for command line [" << c.commandLine << "]";
        // The tail is a pointer into the command line, never a copy.
        EXPECT_EQ(result, c.commandLine + lineLength - tailLength)
            << c.why << ": the tail does not point into the command line";
    }
}

}  // namespace
