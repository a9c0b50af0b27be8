// The yes/no question, asked on the terminal instead of a message box.
#pragma once

#include <cstdio>

// Prints "<caption>: <question> [Y/n] " to standard error and reads one line from
// `input`. Returns false only when the answer's first non-blank character is 'n' or 'N';
// an empty line or the end of input count as yes.
bool AskYesNo(const char* caption, const char* question, std::FILE* input = stdin);
