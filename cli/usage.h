#pragma once

// Prints the usage text on standard output, each line ended by "\r\n".
void ShowHelp();
