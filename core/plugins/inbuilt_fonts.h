// The three TrueType faces the runtime carries for plugins (the sans-serif
// face, its monospaced variant and the serif face), embedded at build time
// from the system's font package.
#pragma once

extern const unsigned char kVeraSans[65932];
extern const unsigned char kVeraMono[49224];
extern const unsigned char kVeraSerif[60280];
