#include <gtest/gtest.h>

#include "support/run_capture.h"

TEST(Smoke, EmptyInputPrintsBannerHeaderAndElapsedTime) {
  EXPECT_EQ(kavrel_test::run_normalized(""),
            "{program file name kavrel}\n\ninput data:\n{elapsed time: #/1000 sec.}\n");
}
