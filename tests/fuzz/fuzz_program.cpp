// tests/fuzz/fuzz_program.cpp: what each program's build gives the system,
// for the harnesses, which are no program: the starting target_mode of a
// plain build, and an empty table of embedded resources (no harness
// opens a screen or serves an image).
#include "app/upgrade_context.h"
#include "platform/embedded.h"

extern const int32_t build_initial_target_mode = 1;

extern const EmbeddedResource embedded_resources[] = {{nullptr, 0, nullptr, nullptr, nullptr}};
extern const int embedded_resource_count = 0;
