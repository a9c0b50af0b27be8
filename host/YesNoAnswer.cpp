// The rule by which every host reads a typed or redirected yes/no answer.
#include "host/AskYesNo.h"

bool ReadYesNoAnswer(std::FILE* input)
{
    int c = std::fgetc(input);
    while (c == ' ' || c == '\t')
        c = std::fgetc(input);
    const bool no = (c == 'n' || c == 'N');
    while (c != EOF && c != '\n')
        c = std::fgetc(input);
    return !no;
}
