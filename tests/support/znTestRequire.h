#pragma once

#include <gtest/gtest.h>

// True when the environment sets LP_REQUIRE_ALL=1 (as `make test` and CI do): every test must
// then run, and a test that lacks a tool, the corpus or a condition fails instead of skipping.
bool RequireAll();

// Skips the test when cond is false, naming what is missing: LP_SKIP_UNLESS(HasLibreOffice())
// << "LibreOffice is not installed"; under LP_REQUIRE_ALL=1 the same line is a fatal failure,
// so that a machine without the tool cannot pass the suite silently. Like GTEST_SKIP it
// returns from the current function.
#define LP_SKIP_UNLESS(cond)                                                                                 \
    GTEST_AMBIGUOUS_ELSE_BLOCKER_                                                                            \
    if (cond)                                                                                                \
        ;                                                                                                    \
    else                                                                                                     \
        return GTEST_MESSAGE_(RequireAll() ? "Missing under LP_REQUIRE_ALL=1, where no test may skip:" : "", \
                              RequireAll() ? ::testing::TestPartResult::kFatalFailure                        \
                                           : ::testing::TestPartResult::kSkip)
