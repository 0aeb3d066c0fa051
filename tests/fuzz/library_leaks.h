// Leaks inside the packaged decoders that no caller can free: libsndfile's
// Ogg Vorbis reader leaves the vorbis_info it set up behind when a stream's
// headers are broken. They are the library's, not the runtime's, so the
// sound targets tell LeakSanitizer to pass them and catch every other leak.
// Include once per fuzz target.
#pragma once

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:vorbis_info_init\n";
}

// Thousands of runs each list the suppression otherwise.
extern "C" const char* __lsan_default_options()
{
    return "print_suppressions=0";
}
