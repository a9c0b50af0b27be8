// The yes/no question on POSIX hosts: a prompt on standard error when the answer comes
// from a terminal, then one line.
#include "host/AskYesNo.h"

#include <unistd.h>

bool AskYesNo(const char* caption, const char* question, const char* /*explanation*/, std::FILE* input)
{
    if (isatty(fileno(input))) {
        // Progress lines written so far appear before the question.
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s? [Y/n] ", caption, question);
        std::fflush(stderr);
    }
    return ReadYesNoAnswer(input);
}
