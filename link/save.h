#pragma once

// Makes new link settings permanent: replaces the settings file (owned by
// root), replaces the platform's line in the hosts table and runs the SP's
// two network scripts, one save at a time. Problems are reported on standard
// output, not returned.
void saveLinkSettings(const char* platformText, const char* spText, const char* portText);
