// Kept for the tests that include it: the trends' fakes now live with the others.
#pragma once

#include "support/fakes.h"
