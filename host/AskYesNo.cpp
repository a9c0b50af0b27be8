// The yes/no question on POSIX hosts: a prompt on standard error, then one line.
#include "host/AskYesNo.h"

bool AskYesNo(const char* caption, const char* question, std::FILE* input)
{
    // Progress lines written so far appear before the question, also when piped.
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s? [Y/n] ", caption, question);
    std::fflush(stderr);
    return ReadYesNoAnswer(input);
}
