/* A library plugin, without commands, whose InitLibrary and RequirePlugin
 * answer what the test asks: the numbers in QM_TEST_INIT_ANSWER and
 * QM_TEST_REQUIRE_ANSWER (0 when unset). */
#include <stdlib.h>

#include "test_plugin_info.h"

static int Answer(const char* variable)
{
    const char* text = getenv(variable);
    return text ? atoi(text) : 0;
}

EXPORT int InitPlugin(PluginInfo* info, const PluginHostApi* api, const char* path)
{
    (void)api, (void)path;
    FillTestPluginInfo(info, PLUGINCAPS_LIBRARY | PLUGINCAPS_REQUIRE, "Test plugin answers", "answers",
                       "Answers as it is told");
    return 1;
}

EXPORT void ClosePlugin(void) {}

static const QmCommandEntry commands[] = {{NULL, NULL}};

EXPORT const char* GetBaseTable(void) { return "answers"; }
EXPORT const QmCommandEntry* GetCommands(void) { return commands; }
EXPORT const QmConstantEntry* GetConstants(void) { return NULL; }
EXPORT int InitLibrary(struct VmState* state) { (void)state; return Answer("QM_TEST_INIT_ANSWER"); }
EXPORT void FreeLibrary(struct VmState* state) { (void)state; }

EXPORT int RequirePlugin(struct VmState* state, int version, int revision, uint32_t reserved, QmTagItem* tags)
{
    (void)state, (void)version, (void)revision, (void)reserved, (void)tags;
    return Answer("QM_TEST_REQUIRE_ANSWER");
}
