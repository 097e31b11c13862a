#include <gtest/gtest.h>
#include "model/FTPSite.h"
TEST(Smoke, Key) { CFTPSite s; s.m_strHost = "h"; s.m_strUser = "u"; EXPECT_EQ(s.GetKey(), "h@u"); }
