#include "platform/AppInfo.h"
#include <gtest/gtest.h>
TEST(AppInfo, TitleNamesTheVersion) { EXPECT_EQ(AppInfo::Title, "Velmora MP3 CD Ripper 2.3"); }
