#include "core/platform/LeakSuppressions.h"
