// Character tables between ISO 8859-1 and Mac OS Roman for text files. Each
// pair is two mutually inverse permutations of 0-255 that keep ASCII.
#pragma once

extern const unsigned char iso_to_mac[256];
extern const unsigned char mac_to_iso[256];
extern const unsigned char iso_to_mac_alt[256];
extern const unsigned char mac_to_iso_alt[256];

// The table towards Mac OS Roman (`to_mac`) or towards ISO of pair `which`
// (1 or 2); null for any other pair number.
const unsigned char *convert_iso(int to_mac, int which);
