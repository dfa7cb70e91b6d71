// How --watch is woken where the port folders cannot be followed: a look
// every quarter second, asleep in between.
#include "orvane/cli/system.h"

#include <gtest/gtest.h>

#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A watch made while the process may open no more files: it has no inotify.
std::unique_ptr<FolderWatch> WatchWithoutInotify()
{
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> taken;
    for (int fd; (fd = dup(0)) >= 0;)
        taken.push_back(fd);
    auto watch = std::make_unique<FolderWatch>();
    for (int fd : taken)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
    return watch;
}

TEST(CliFolderWatch, LooksAtWhatItCannotFollowWithoutSpinning)
{
    for (bool inotify : {true, false}) {
        SCOPED_TRACE(inotify ? "a pattern in the folder's path" : "no inotify");
        const std::unique_ptr<FolderWatch> watch = inotify ? std::make_unique<FolderWatch>() : WatchWithoutInotify();
        watch->Follow({inotify ? "/dev/serial*/by-id" : "/dev"});
        EXPECT_TRUE(watch->Wait(1000)) << "the first look";
        // The next look comes after a sleep, not after a run of empty returns.
        int empty = 0;
        while (!watch->Wait(1000) && empty < 1000)
            ++empty;
        EXPECT_LE(empty, 2);
    }
}

} // namespace
