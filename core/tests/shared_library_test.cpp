// Libraries loaded when first needed: one that is not installed, or that lacks a function (another
// version), is a refusal naming it and the package to install, not a crash or another cause.
#include "platform/shared_library.hpp"

#include <unistd.h>

#include "testing.hpp"

TEST(SharedLibrary, AMissingLibraryOrFunctionIsARefusalNamingThePackage) {
    EXPECT_MESSAGE("缺少系统库 libplovik-absent.so.0，请安装或更新 plovik-absent 后重试。",
                   SharedLibrary("libplovik-absent.so.0", "plovik-absent"));
    const SharedLibrary c("libc.so.6", "libc6");
    EXPECT_EQ(c.function<pid_t (*)()>("getpid")(), ::getpid());
    EXPECT_MESSAGE("缺少系统库 libc.so.6，请安装或更新 libc6 后重试。",
                   c.function<void (*)()>("plovik_no_such_function"));
}
