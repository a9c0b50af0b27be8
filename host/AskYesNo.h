// The yes/no question, asked on the terminal instead of a message box.
#pragma once

#include <cstdio>

// Reads one line from `input` as the answer; when `input` is a terminal, it first shows
// "<caption>: <question> [Y/n] " on standard error, so the prompt never lands in a log.
// Returns false only when the answer's first non-blank character is 'n' or 'N'; an empty
// line or the end of input count as yes.
bool AskYesNo(const char* caption, const char* question, std::FILE* input = stdin);
