#include "CliProcess.h"
#include "LoopVolume.h"

#include <gtest/gtest.h>
