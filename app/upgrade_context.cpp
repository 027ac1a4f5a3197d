// app/upgrade_context.cpp: the one UpgradeContext of the process.
#include "app/upgrade_context.h"

// Static storage: every field starts as zero bytes, but for target_mode,
// which takes the build's value.
UpgradeContext upgrade;
