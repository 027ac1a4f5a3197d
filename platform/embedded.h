// platform/embedded.h: the files a native program carries inside itself.
//
// Each program's build generates the table (cmake/resources.cmake): its
// resource script ("#script"), the files that script includes ("#file"),
// and the custom resources by type and id, all read in place.
#pragma once

#include <cstdint>

struct EmbeddedResource {
    const char *type;
    int id;
    const char *name;
    const unsigned char *begin;
    const unsigned char *end;
};

extern const EmbeddedResource embedded_resources[];
extern const int embedded_resource_count;
