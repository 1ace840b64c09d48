#pragma once

// The whole run: defaults from the link settings, the command line, the
// command. Returns the process's exit status.
int runZarn(int argc, char** argv);
