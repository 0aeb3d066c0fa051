// The user's language from the POSIX locale variables.
#include "platform/posix/os_language.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "core/io/catalog.h"

int OsGetSystemLanguage()
{
    const char* locale = nullptr;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = std::getenv(variable);
        if (locale && *locale)
            break;
    }
    if (!locale || !*locale)
        return LANGUAGE_NONE;
    size_t length = std::strcspn(locale, "_.@");
    if (length != 2)
        return LANGUAGE_NONE;
    char abbreviation[3] = {locale[0], locale[1], '\0'};
    // The C library names Norwegian by its two written forms.
    if (std::strcmp(abbreviation, "nb") == 0 || std::strcmp(abbreviation, "nn") == 0)
        return LanguageFromAbbreviation("NO");
    return LanguageFromAbbreviation(abbreviation);
}
