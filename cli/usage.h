#pragma once

// Writes the usage text, made from the option table, to standard error.
void printUsage();
