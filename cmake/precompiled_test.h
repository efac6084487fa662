// The test programs' precompiled header: the project's, and GoogleTest's header, which most
// suites include (ZirvFastBuild.cmake).
#include "precompiled.h"

#include <gtest/gtest.h>
