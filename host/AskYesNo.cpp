// The yes/no question on POSIX hosts.
#include "host/AskYesNo.h"

#include <unistd.h>

bool AskYesNo(const char* caption, const char* question, std::FILE* input)
{
    if (isatty(fileno(input))) {
        // Progress lines written so far appear before the question.
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s [Y/n] ", caption, question);
        std::fflush(stderr);
    }
    int c = std::fgetc(input);
    while (c == ' ' || c == '\t')
        c = std::fgetc(input);
    const bool no = (c == 'n' || c == 'N');
    while (c != EOF && c != '\n')
        c = std::fgetc(input);
    return !no;
}
