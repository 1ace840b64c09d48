#pragma once

// Texts that end up in the settings file, the hosts table or the agent's
// re-addressing request must be plain.

// A canonical dotted quad (four decimal numbers 0-255 without leading zeros,
// as inet_pton reads them) other than 0.0.0.0 and 255.255.255.255.
[[nodiscard]] bool isPlainDottedQuad(const char* text);

// A port of at most five digits, in 1..65535.
[[nodiscard]] bool isPlainPort(const char* text);
