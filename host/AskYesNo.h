// The yes/no question: a message box on Windows consoles, a terminal prompt elsewhere.
#pragma once

#include <cstdio>

// Asks `question` (no question mark) under `caption` and returns the answer, read from
// `input`. On POSIX hosts, when `input` is a terminal, "<caption>: <question>? [Y/n] "
// first goes to standard error (never into a log); then one line is read. On Windows,
// when `input` is a console, a Yes/No message box with the question icon asks, showing
// `explanation` below the question, and only No means no; otherwise one line is read
// without a prompt.
bool AskYesNo(const char* caption, const char* question, const char* explanation, std::FILE* input = stdin);

// The answer rule for a line: false only when its first non-blank character is 'n' or
// 'N'; an empty line or the end of input count as yes. Reads through the line's end.
bool ReadYesNoAnswer(std::FILE* input);
