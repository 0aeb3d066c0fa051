// The user's language, as the catalogs and the LANGUAGE_* constants number
// languages.
#pragma once

// From the locale environment (LC_ALL, else LC_MESSAGES, else LANG): the
// language part of the first one set ("de_AT.UTF-8" gives German).
// LANGUAGE_NONE (18) for "C", "POSIX", nothing set or a language that the
// table does not know.
int OsGetSystemLanguage();
