// The error log lives with the support routines; this name stays for callers.
#pragma once

#include "support/error_log.h"
