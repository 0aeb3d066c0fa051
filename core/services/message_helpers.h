// Small rules shared by everything that builds message texts.
#pragma once

// A new copy of `text` (from OsAllocMem, freed with OsFreeMem) with every
// '%' doubled, so that it prints as it stands through a formatter; null when
// the text is empty or has no '%' (use the text itself then), or when out of
// memory.
char* EscapePercent(const char* text);
