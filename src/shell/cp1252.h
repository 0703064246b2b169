// The shell's settings and translations use the platform's code page conversion.
#pragma once

#include "platform/cp1252.h"
