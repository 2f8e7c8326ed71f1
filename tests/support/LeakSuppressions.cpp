#include "platform/LeakSuppressions.h"
