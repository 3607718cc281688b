#include "e2e_support.h"
#include "version_resource.h"

#include <gtest/gtest.h>

// The version resource of the built tolvi.exe names the product and the
// version that the /ver banner shows; the two are kept by hand in
// different files, so this holds them together.
TEST(VersionResource, NamesTolvi201LikeTheBanner)
{
    const VersionResource version = read_version_resource(tolvi_exe());
    ASSERT_TRUE(version.found);
    EXPECT_EQ(version.product_name, L"Tolvi");
    EXPECT_EQ(version.product_version, L"2.01");
    EXPECT_EQ(version.file_version, L"2.01");
    EXPECT_EQ(version.fixed[0], 2);
    EXPECT_EQ(version.fixed[1], 1);
    EXPECT_EQ(version.fixed[2], 0);
    EXPECT_EQ(version.fixed[3], 0);

    const RunResult banner = run_tolvi({L"/ver"});
    EXPECT_EQ(banner.exit_code, 0);
    const std::string prefix = "\r\n " + utf8(version.product_name) + " " +
                               utf8(version.product_version) + " 64bit - ";
    EXPECT_EQ(banner.out.substr(0, prefix.size()), prefix);
}
