// Standard output to /dev/null while alive: the player's console lines (banners, the knowledge
// base writer's report) would fill a benchmark's table or a fuzzer's log.
#pragma once
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

struct QuietStdout {
  int saved = -1;
  QuietStdout() {
    std::fflush(stdout);
    saved = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;
};
