// The banner every tool prints first: its title, the project's notice, then " \n".
#pragma once

extern const char kMakerNotice[];

// Prints "<title><notice>\n \n" to standard output.
void PrintBanner(const char* title);
