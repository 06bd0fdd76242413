// The overlay iteration; its entry point is declared in rating/context.h.
#pragma once

#include "rating/context.h"
